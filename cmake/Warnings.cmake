function(kestrune_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wfloat-conversion
                                             -Wnon-virtual-dtor -Woverloaded-virtual)
endfunction()
