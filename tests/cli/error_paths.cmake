# Wrong use and unreadable files end with a message on standard error and a non-zero status.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

# a failure prints no list
function(expect_quiet_failure status text)
    expect_failure(${status} "${text}" ${ARGN})
    if(NOT out STREQUAL "")
        message(FATAL_ERROR "'${ARGN}': unexpected output ${out}")
    endif()
endfunction()

expect_quiet_failure(1 "cannot open lattice file ${WORK}/none.lat" ${WORK}/none.lat --list lattice)
file(WRITE ${WORK}/bad.lat "1003\r\n201 2 1.0 1.0\r\n50         QF twenty\r\n")
expect_quiet_failure(1 "cannot read lattice file ${WORK}/bad.lat, line 3: an element code expected, found 'twenty'"
                     ${WORK}/bad.lat)
expect_quiet_failure(2 "unknown list 'tunes'" ${EXAMPLES}/fodo-cell.lat --list tunes)
expect_quiet_failure(2 "--list: 1 required KIND missing" ${EXAMPLES}/fodo-cell.lat --list)
expect_quiet_failure(2 "no lattice file given" --list beta)
expect_quiet_failure(2 "not expected: --frobnicate" ${EXAMPLES}/fodo-cell.lat --frobnicate)
expect_quiet_failure(2 "not expected: second.lat" ${EXAMPLES}/fodo-cell.lat second.lat)
expect_quiet_failure(2 "--set: unknown name 'ring.cells'" ${EXAMPLES}/fodo-cell.lat --set ring.cells=4)
expect_quiet_failure(2 "--set needs NAME=VALUE, got 'beam.current_ma'" ${EXAMPLES}/fodo-cell.lat --set beam.current_ma)
expect_quiet_failure(2 "--set beam.current_ma: '1,5' is not a valid floating point value"
                     ${EXAMPLES}/fodo-cell.lat --set beam.current_ma=1,5)
expect_quiet_failure(2 "--set ring.superperiods: '2.5' is not a valid integer value"
                     ${EXAMPLES}/fodo-cell.lat --set ring.superperiods=2.5)
expect_quiet_failure(2 "--set ring.superperiods: the number of superperiods must be at least 1"
                     ${EXAMPLES}/fodo-cell.lat --set ring.superperiods=0)
# wrong use is found before the file is read
expect_quiet_failure(2 "--set: unknown name 'x'" ${WORK}/none.lat --set x=1)
expect_quiet_failure(1 "cannot write file ${WORK}/no/such.csv" ${EXAMPLES}/fodo-cell.lat --twiss ${WORK}/no/such.csv)

# a lone drift has no periodic solution: the messages go to stderr and the status is 1
file(WRITE ${WORK}/drift.lat "1003\r\n201 1 1.0 1.0\r\n50          D 1 0 1 0 0 0 0 0 0 0 0 0 0\r\n11 0 1 -61 -59\r\n")
execute_process(COMMAND ${CLI} ${WORK}/drift.lat --list periodic RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "kestrune-cli: no solution for eta-function! ")
    message(FATAL_ERROR "periodic on a drift: ${rc} ${err}")
endif()

execute_process(COMMAND ${CLI} --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
foreach(word magnets lattice beta periodic matrix beam --twiss --write-examples --report --periodic --set
             beam.current_ma beam.coupling_percent ring.superperiods ring.rf_frequency_mhz)
    string(FIND "${out}" "${word}" at)
    if(NOT rc EQUAL 0 OR at EQUAL -1)
        message(FATAL_ERROR "--help does not explain ${word}")
    endif()
endforeach()
