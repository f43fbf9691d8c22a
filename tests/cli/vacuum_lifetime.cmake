# The vacuum and lifetime windows in the batch tool: --list vacuum, --profile, their --set names and
# the report's vacuum and lifetime sections.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

function(expect_lines file count)
    file(STRINGS ${file} lines)
    list(LENGTH lines n)
    if(NOT n EQUAL count)
        message(FATAL_ERROR "${file}: ${n} lines, expected ${count}")
    endif()
endfunction()

# the pump list of the example cell: three pumps and the average
run_cli(${EXAMPLES}/dba-cell.lat --list vacuum)
foreach(text "Vacuum pressure at pumps " "pump#   PS(lt/sec)    P(nTorr)      s(m)" "    1     200.000"
             "    3     100.000" "avg.vacuum pressure:")
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "'${text}' not in the pump list: ${out}")
    endif()
endforeach()
expect_failure(1 "there are no pumps in your lattice!" ${EXAMPLES}/fodo-cell.lat --list vacuum)

# the profile: a header and one line per step; the step count is taken as the box takes it
run_cli(${EXAMPLES}/dba-cell.lat --profile ${WORK}/profile.csv)
expect_lines(${WORK}/profile.csv 2001)
file(STRINGS ${WORK}/profile.csv rows LIMIT_COUNT 2)
list(GET rows 0 header)
list(GET rows 1 first)
if(NOT header STREQUAL "s_m,pressure_torr" OR NOT first MATCHES "^0,[0-9.]+e-1[0-9]$")
    message(FATAL_ERROR "profile starts with '${header}', '${first}'")
endif()
run_cli(${EXAMPLES}/dba-cell.lat --set vacuum.steps=500 --profile ${WORK}/500.csv)
expect_lines(${WORK}/500.csv 501)
run_cli(${EXAMPLES}/dba-cell.lat --set vacuum.steps=12000 --profile ${WORK}/cut.csv)
expect_lines(${WORK}/cut.csv 10001)
run_cli(${EXAMPLES}/dba-cell.lat --set vacuum.steps= --profile ${WORK}/empty.csv)
expect_lines(${WORK}/empty.csv 2001)
expect_failure(1 "there are no pumps in your lattice!" ${EXAMPLES}/fodo-cell.lat --profile ${WORK}/never.csv)
if(EXISTS ${WORK}/never.csv)
    message(FATAL_ERROR "a profile was written for a line without pumps")
endif()

# values the boxes refuse are wrong use
expect_failure(2 "--set vacuum.chamber_radius_cm: the chamber radius must be larger than 0 cm!"
               ${EXAMPLES}/dba-cell.lat --set vacuum.chamber_radius_cm=0)
expect_failure(2 "--set vacuum.iterations: # of iterations: '10.5' is not a valid integer value"
               ${EXAMPLES}/dba-cell.lat --set vacuum.iterations=10.5)
expect_failure(2 "--set lifetime.bremsstrahlung.energy_acceptance_percent: \"energy acceptance, %\" must lie between 0 and 100 %!"
               ${EXAMPLES}/dba-cell.lat --set lifetime.bremsstrahlung.energy_acceptance_percent=100)
expect_failure(2 "--set lifetime.touschek.bunch_current_ma: 'lots' is not a valid floating point value"
               ${EXAMPLES}/dba-cell.lat --set lifetime.touschek.bunch_current_ma=lots)

# the report of the example ring: the vacuum average is the lifetime's pressure, all four lifetimes
run_cli(${EXAMPLES}/dba-cell.lat --set lifetime.bremsstrahlung.pressure_ntorr=2
        --set lifetime.touschek.energy_acceptance_percent=1.5 --report ${WORK}/ring.json)
file(READ ${WORK}/ring.json report)
string(JSON pumps LENGTH "${report}" vacuum pump_pressures_torr)
if(NOT pumps EQUAL 3)
    message(FATAL_ERROR "${pumps} pump pressures")
endif()
expect_json("${report}" "2000" vacuum profile steps)
string(JSON average GET "${report}" vacuum average_pressure_torr)
string(JSON elasticPressure GET "${report}" lifetime inputs elastic pressure_ntorr)
# the box shows the average in nTorr with four digits: 7.1197e-10 Torr is 0.712 nTorr
string(REGEX MATCH "^([0-9])\\.([0-9])" _ "${average}")
string(FIND "${elasticPressure}" "0.${CMAKE_MATCH_1}${CMAKE_MATCH_2}" at)
if(NOT at EQUAL 0 OR NOT average MATCHES "e-10$")
    message(FATAL_ERROR "elastic pressure ${elasticPressure} nTorr, vacuum average ${average} Torr")
endif()
expect_json("${report}" "2.0" lifetime inputs bremsstrahlung pressure_ntorr)
expect_json("${report}" "1.5" lifetime inputs touschek energy_acceptance_percent)
foreach(key elastic_s bremsstrahlung_s quantum_total_s touschek_s total_s)
    string(JSON type TYPE "${report}" lifetime ${key})
    if(NOT type STREQUAL "NUMBER")
        message(FATAL_ERROR "lifetime ${key} is ${type}")
    endif()
endforeach()

# the closed ring's rf parameters give the lifetime its energy acceptance and bunch length: no default
string(JSON defaults GET "${report}" lifetime defaults)
string(FIND "${defaults}" "run \\\"RF\\\"" at)
if(NOT at EQUAL -1)
    message(FATAL_ERROR "the energy acceptance was defaulted: ${defaults}")
endif()
string(JSON bunchLength GET "${report}" rf bunch_length_m)
string(JSON touschekLength GET "${report}" lifetime inputs touschek bunch_length_mm)
# the box holds the rf bunch length in mm with three decimals: 0.0045678 m is 4.568 mm
string(REGEX MATCH "^0\\.00([0-9])([0-9])" _ "${bunchLength}")
string(FIND "${touschekLength}" "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}" at)
if(NOT at EQUAL 0 OR touschekLength STREQUAL "1.0")
    message(FATAL_ERROR "Touschek bunch length ${touschekLength} mm, rf bunch length ${bunchLength} m")
endif()

# a cell without pumps: no vacuum section, and the lifetime takes the default pressure with its message
run_cli(${EXAMPLES}/fodo-cell.lat --report ${WORK}/fodo.json)
file(READ ${WORK}/fodo.json report)
string(JSON type TYPE "${report}" vacuum)
if(NOT type STREQUAL "NULL")
    message(FATAL_ERROR "vacuum section of a line without pumps: ${type}")
endif()
expect_json("${report}" "1.0" lifetime inputs elastic pressure_ntorr)
string(JSON defaults GET "${report}" lifetime defaults)
string(FIND "${defaults}" "enter vacuum pressure manually or run \\\"vacuum\\\"!" at)
if(at EQUAL -1)
    message(FATAL_ERROR "no pressure default in ${defaults}")
endif()
