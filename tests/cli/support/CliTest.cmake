# What the batch-tool tests share: a fresh work folder and running the tool with checks on its status,
# its messages and the report's values. Included by the scripts in tests/cli (run with -P, CLI set to
# the tool and WORK to the script's own folder).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Runs the tool with the arguments given; it must succeed. Leaves its standard output and error in out
# and err.
function(run_cli)
    execute_process(COMMAND ${CLI} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "'${ARGN}' failed (${rc}): ${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

# Runs the tool; it must end with the status given and say text on standard error. Leaves out and err.
function(expect_failure status text)
    execute_process(COMMAND ${CLI} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL status)
        message(FATAL_ERROR "'${ARGN}': status ${rc}, expected ${status}; ${err}")
    endif()
    string(FIND "${err}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "'${ARGN}': '${text}' not in: ${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

# The report's value at the keys given is the text expected.
function(expect_json json expected)
    string(JSON value GET "${json}" ${ARGN})
    if(NOT value STREQUAL "${expected}")
        message(FATAL_ERROR "${ARGN}: '${value}', expected '${expected}'")
    endif()
endfunction()

# CMake has no float arithmetic: a number's leading characters, sign included, to the digits wanted.
function(expect_prefix json prefix)
    string(JSON value GET "${json}" ${ARGN})
    string(FIND "${value}" "${prefix}" at)
    if(NOT at EQUAL 0)
        message(FATAL_ERROR "${ARGN}: '${value}', expected it to start with '${prefix}'")
    endif()
endfunction()
