# The report's ring sections, the --set names of the ring window's boxes, and --list ring.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

run_cli(${EXAMPLES}/dba-cell.lat --report ${WORK}/dba.json)
file(READ ${WORK}/dba.json report)
expect_json("${report}" "12" ring superperiods)
expect_prefix("${report}" "183.6" ring circumference_m)
# 24 bends of 15 degrees: 360 to the last bits of the sum
string(JSON deflection GET "${report}" ring total_deflection_deg)
if(deflection LESS 359.999999999 OR deflection GREATER 360.000000001)
    message(FATAL_ERROR "ring;total_deflection_deg: ${deflection}, expected 360")
endif()
expect_prefix("${report}" "499654000" ring rf_frequency_hz)
expect_prefix("${report}" "305.9999" ring harmonic_number)
expect_json("${report}" "ON" ring closed)
expect_prefix("${report}" "0.8224670" radiation_integrals i2)
# 2 GeV, 24 bends of 15 deg on 7.64 m: U0 = 88.5 keV E^4 / rho = 185 keV
expect_prefix("${report}" "1852" equilibrium energy_loss_ev)
expect_json("${report}" "0.01" equilibrium coupling)
foreach(key energy_loss_ev radiated_power_w energy_spread damping_time_x_s damping_time_y_s damping_time_s_s
            damping_partition_x natural_emittance_m emittance_x_m emittance_y_m coupling momentum_compaction
            slip_factor natural_chromaticity_x natural_chromaticity_y average_beta_x_m average_beta_y_m)
    string(JSON type TYPE "${report}" equilibrium ${key})
    if(NOT type STREQUAL "NUMBER")
        message(FATAL_ERROR "equilibrium ${key} is ${type}")
    endif()
endforeach()
string(JSON count LENGTH "${report}" messages)
if(NOT count EQUAL 0)
    message(FATAL_ERROR "messages on the example ring: ${report}")
endif()

# the ring window's boxes through --set: half the cells, another rf frequency, current and coupling
run_cli(${EXAMPLES}/dba-cell.lat --set ring.superperiods=6 --set ring.rf_frequency_mhz=500
        --set beam.current_ma=50 --set beam.coupling_percent=10 --report ${WORK}/half.json)
file(READ ${WORK}/half.json report)
expect_json("${report}" "6" ring superperiods)
expect_prefix("${report}" "91.8" ring circumference_m)
expect_json("${report}" "OFF" ring closed)
expect_prefix("${report}" "500000000" ring rf_frequency_hz)
expect_prefix("${report}" "153.10" ring harmonic_number)
expect_prefix("${report}" "0.10000000" equilibrium coupling)
# half the ring radiates half: 92.6 keV, times 50 mA
expect_prefix("${report}" "926" equilibrium energy_loss_ev)
expect_prefix("${report}" "463" equilibrium radiated_power_w)
# closing half a ring doubles every h
expect_json("${report}" "To close ring, you may change all dipole strengths by  100.000 % [Yes] or ... [No]. -- answered No"
            messages 0)
# half a ring is no ring: its rf frequency is not asked about
expect_json("${report}" "To close ring, you may change all dipole lengths by  100.000 % -- answered No" messages 1)

# --list ring: the ring window's parameter list
run_cli(${EXAMPLES}/dba-cell.lat --set beam.coupling_percent=2 --list ring)
foreach(line "Storage Ring Parameters" "   ring circumference,C................. =  183.60000 m"
             "   coupling ............................ =    2.00000 %" "   energy loss/turn .................... =  185.271 keV")
    string(FIND "${out}" "${line}" at)
    if(at LESS 0)
        message(FATAL_ERROR "--list ring lacks '${line}':\n${out}")
    endif()
endforeach()

# a coupling the box would refuse is wrong use
execute_process(COMMAND ${CLI} ${EXAMPLES}/dba-cell.lat --set beam.coupling_percent=-1 --list ring
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "the coupling must not be negative")
    message(FATAL_ERROR "negative coupling: ${rc} ${err}")
endif()
