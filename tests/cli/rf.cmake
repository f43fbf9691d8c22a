# The rf list, the rf section of the report, the rf --set names and the energy scan.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

function(expect_text text)
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "'${text}' not in: ${out}")
    endif()
endfunction()

run_cli(${EXAMPLES}/dba-cell.lat --list rf)
expect_text("   Rf-parameter")
expect_text("   number of rf-cells,    NumCav = ..........         2")
expect_text("   tot.cavity voltage,      V_rf = ..........   1.20000 MV")
expect_text("   cavity material,                          copper")

# four cells of 1 MOhm in series at 1 MV lose 250 kW
run_cli(${EXAMPLES}/dba-cell.lat --set rf.voltage_kv=1000 --set rf.cavities=4 --set rf.shunt_impedance_mohm=1
        --report ${WORK}/rf.json)
file(READ ${WORK}/rf.json report)
string(JSON loss GET "${report}" rf cavity_loss_w)
string(JSON voltage GET "${report}" rf voltage_v)
string(JSON material TYPE "${report}" rf material)
if(NOT loss EQUAL 250000 OR NOT voltage EQUAL 1000000 OR NOT material STREQUAL "NULL")
    message(FATAL_ERROR "rf section: ${loss} ${voltage} ${material}")
endif()

# a transport line has no rf section
run_cli(${EXAMPLES}/ion-line.lat --report ${WORK}/line.json)
file(READ ${WORK}/line.json report)
string(JSON rf TYPE "${report}" rf)
if(NOT rf STREQUAL "NULL")
    message(FATAL_ERROR "rf section of a transport line: ${rf}")
endif()

# the scan: a header and 101 points, the last one step beyond the maximum
run_cli(${EXAMPLES}/dba-cell.lat --scan energy_loss 1 2.98)
string(REGEX MATCHALL "\n" newlines "${out}")
list(LENGTH newlines lines)
if(NOT lines EQUAL 102)
    message(FATAL_ERROR "scan has ${lines} lines: ${out}")
endif()
expect_text("momentum_gev,energy_loss_kev\n1,")
expect_text("\n3,")

execute_process(COMMAND ${CLI} ${EXAMPLES}/dba-cell.lat --scan frequency 1 2 RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "--scan: unknown quantity 'frequency'")
    message(FATAL_ERROR "unknown scan quantity: ${rc} ${err}")
endif()
execute_process(COMMAND ${CLI} ${EXAMPLES}/dba-cell.lat --set rf.cavities=0 RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "--set rf.cavities: the number of cavity cells must be at least 1")
    message(FATAL_ERROR "no cavities: ${rc} ${err}")
endif()
# a transport line has no rf system
execute_process(COMMAND ${CLI} ${EXAMPLES}/ion-line.lat --list rf RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "--list rf: the lattice is not a closed ring")
    message(FATAL_ERROR "rf list of a transport line: ${rc} ${err}")
endif()

execute_process(COMMAND ${CLI} --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
foreach(word "--scan" "rf        the rf-parameter list" rf.voltage_kv rf.power_kw rf.cavities rf.misc_loss_percent
             rf.additional_loss_kev rf.material rf.shunt_impedance_mohm energy_acceptance radiation_power)
    expect_text("${word}")
endforeach()
