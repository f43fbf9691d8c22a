# The aperture scans: a report in one piece, the same scans in parts on the command line and joined.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

set(scans ${EXAMPLES}/dba-cell.lat --dynamic-aperture --da-angles 5 --da-turns 50 --momentum-acceptance
          --ma-turns 32 --ma-every 6 --threads 2)
run_cli(${scans} --report ${WORK}/whole.json)
file(READ ${WORK}/whole.json whole)
string(JSON rays LENGTH "${whole}" dynamic_aperture radius_mm)
string(JSON points LENGTH "${whole}" momentum_acceptance s_m)
if(NOT rays EQUAL 5 OR NOT points EQUAL 5)
    message(FATAL_ERROR "${rays} rays, ${points} points")
endif()
string(JSON local TYPE "${whole}" lifetime touschek_local_acceptance_s)
if(NOT local STREQUAL "NUMBER")
    message(FATAL_ERROR "no local Touschek lifetime: ${local}")
endif()

foreach(k 1 2)
    run_cli(${scans} --part ${k}/2 --report ${WORK}/part${k}.json)
endforeach()
run_cli(--merge ${WORK}/part2.json ${WORK}/part1.json --report ${WORK}/merged.json)
file(READ ${WORK}/merged.json merged)
foreach(section dynamic_aperture momentum_acceptance)
    string(JSON a GET "${whole}" ${section})
    string(JSON b GET "${merged}" ${section})
    if(NOT a STREQUAL b)
        message(FATAL_ERROR "${section} joined from parts:\n${b}\nin one piece:\n${a}")
    endif()
endforeach()

# the frequency map's points as CSV: the same from the run in one piece and from its parts joined, one
# row per point under the header
set(map ${EXAMPLES}/dba-cell.lat --frequency-map 3 2 4 2 --fm-turns 32 --threads 2)
run_cli(${map} --fm-csv ${WORK}/whole.csv)
foreach(k 1 2)
    run_cli(${map} --part ${k}/2 --report ${WORK}/map${k}.json)
endforeach()
run_cli(--merge ${WORK}/map2.json ${WORK}/map1.json --fm-csv ${WORK}/joined.csv --report ${WORK}/map.json)
file(READ ${WORK}/whole.csv whole_csv)
file(READ ${WORK}/joined.csv joined_csv)
file(STRINGS ${WORK}/whole.csv rows)
list(LENGTH rows count)
list(GET rows 0 header)
if(NOT whole_csv STREQUAL joined_csv OR NOT count EQUAL 7 OR NOT header MATCHES "^x_mm,y_mm,lost,")
    message(FATAL_ERROR "frequency map CSV in one piece:\n${whole_csv}\njoined:\n${joined_csv}")
endif()

expect_failure(1 "piece 2 of 2 is missing" --merge ${WORK}/part1.json)
expect_failure(2 "--merge takes part files alone" ${EXAMPLES}/dba-cell.lat --merge ${WORK}/part1.json)
expect_failure(2 "--part writes its piece of the scans to the --report file" ${scans} --part 1/2)
expect_failure(2 "'--da-turns' must be a whole number between 1 and 10000000" ${EXAMPLES}/dba-cell.lat
               --dynamic-aperture --da-turns 0)
# a ring that is not closed has no aperture to scan
expect_failure(1 "the aperture scans need a closed ring" ${EXAMPLES}/fodo-cell.lat --dynamic-aperture)
