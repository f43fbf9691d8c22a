cmake_policy(SET CMP0007 NEW)
# The optics lists of the double-bend achromat: the periodic solution, the pass from the file's start
# values and the matrix, with a dispersion-free straight at both ends of the cell.
execute_process(COMMAND ${CLI} ${EXAMPLES}/dba-cell.lat --list periodic --list beta --list matrix --list beam
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "kestrune-cli failed (${rc}): ${err}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(expected_texts
    "   Name   betax(m)  alphax    dnuex   eta(m)  etap(mr) betay(m)  alphay    dnuey     s(m)"
    "Lattice Functions" "x-Matrix by Print" "6x6 transformation matrix for one period"
    "   Beam Parameter List" "   Particle Type:                          electron")
foreach(text IN LISTS expected_texts)
    list(FIND lines "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "missing line '${text}' in:\n${out}")
    endif()
endforeach()
# the straight after the cell: eta and eta' are zero
string(REGEX MATCHALL "\n     LS [^\n]*" straights "${out}")
list(LENGTH straights count)
if(NOT count EQUAL 4)
    message(FATAL_ERROR "expected four LS rows (both ends in the periodic pass and in the beta pass), got ${count}")
endif()
foreach(row IN LISTS straights)
    if(NOT row MATCHES "^\n     LS +[0-9.]+ +-?[0-9.]+ +[0-9.]+ +-?0\\.000 +-?0\\.000 ")
        message(FATAL_ERROR "dispersion in the straight: '${row}'")
    endif()
endforeach()
