# --correct-orbit and the orbit sections of the report: a FODO ring with a kicker and a monitor by every
# quadrupole and two dipole errors as thin multipoles
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

file(WRITE ${WORK}/errors.madx "beam, particle=electron, pc=1;\n"
    "qf: quadrupole, l=0.3, k1=1.1;\nqd: quadrupole, l=0.3, k1=-1.0;\nb: sbend, l=2, angle=0.1570796326794897;\n"
    "k: kicker, l=0.1;\nm: monitor;\nd: drift, l=0.4;\n"
    "err1: multipole, knl={2e-4};\nerr2: multipole, ksl={-1.5e-4};\n"
    "cell: line=(k, qf, m, d, b, d, k, qd, m, d, b, d);\n"
    "ring: line=(cell, cell, cell, err1, cell, cell, cell, err2, cell, cell, cell, cell);\n")
run_cli(${WORK}/errors.madx --correct-orbit 0 --save ${WORK}/corrected.lat --report ${WORK}/orbit.json)
file(READ ${WORK}/orbit.json report)
expect_json("${report}" "40" orbit_correction used)
# the readings go from millimetres to the rounding of the response
expect_prefix("${report}" "0.00" orbit_correction rms_before_x_m)
# closed_orbit is the orbit before the correction, with the corrected one in it
string(JSON before GET "${report}" closed_orbit x_rms_m)
string(JSON corrected GET "${report}" closed_orbit corrected x_rms_m)
if(NOT before MATCHES "^0.00" OR NOT corrected MATCHES "e-(1[1-9]|[2-9][0-9])$")
    message(FATAL_ERROR "closed_orbit before ${before}, corrected ${corrected}")
endif()
string(JSON after GET "${report}" orbit monitors)
string(JSON rms GET "${report}" orbit rms_x_m)
if(NOT after EQUAL 20 OR NOT rms MATCHES "e-(1[1-9]|[2-9][0-9])$")
    message(FATAL_ERROR "after the correction: ${after} monitors, rms ${rms}")
endif()
# the saved design keeps the kicks; without kicks the orbit is the design orbit
run_cli(${WORK}/corrected.lat --report ${WORK}/saved.json)
file(READ ${WORK}/saved.json report)
string(JSON rms GET "${report}" orbit rms_x_m)
if(NOT rms MATCHES "e-(1[1-9]|[2-9][0-9])$")
    message(FATAL_ERROR "the saved kicks: rms ${rms}")
endif()
# the closed_orbit section reads the same monitors; the design has none
string(JSON rmsBeside GET "${report}" closed_orbit x_rms_m)
expect_json("${report}" "OFF" closed_orbit rf_on)
if(NOT rmsBeside STREQUAL rms)
    message(FATAL_ERROR "closed_orbit x_rms_m ${rmsBeside}, orbit rms_x_m ${rms}")
endif()
# MICADO's best kicker of each plane, its kicks held at 1e-4 rad
run_cli(${WORK}/errors.madx --correct-orbit micado --kickers 1 --corrector-limit 1e-4 --report ${WORK}/micado.json)
file(READ ${WORK}/micado.json report)
expect_json("${report}" "micado" orbit_correction method)
string(JSON used LENGTH "${report}" orbit_correction kickers_used)
string(JSON capped LENGTH "${report}" orbit_correction capped)
string(JSON largest GET "${report}" orbit_correction kick_max_rad)
if(NOT used EQUAL 2 OR NOT capped EQUAL 2 OR NOT largest STREQUAL "0.0001")
    message(FATAL_ERROR "micado: ${used} kickers used, ${capped} capped, largest kick ${largest}")
endif()
expect_failure(1 "--correct-orbit: --correct-orbit micado needs --kickers N (N at least 1)" ${WORK}/errors.madx --correct-orbit micado)
run_cli(${EXAMPLES}/dba-cell.lat --report ${WORK}/design.json)
file(READ ${WORK}/design.json report)
expect_json("${report}" "OFF" orbit kicked)
string(JSON type TYPE "${report}" closed_orbit)
if(NOT type STREQUAL "NULL")
    message(FATAL_ERROR "closed_orbit of the design: ${type}")
endif()
# vertical offsets of the quadrupoles: about the orbit mode 2 has an emittance of its own, mode 1 that of
# the design to about a per cent
file(WRITE ${WORK}/dy.json [=[{"seed": 5, "rules": [{"elements": {"family": "quadrupole"}, "error": "dy", "sigma": 1e-4}]}]=])
run_cli(${EXAMPLES}/dba-cell.lat --errors ${WORK}/dy.json --report ${WORK}/dy.report.json)
file(READ ${WORK}/dy.report.json report)
string(JSON e1 GET "${report}" closed_orbit emittance_1_m)
string(JSON e2 GET "${report}" closed_orbit emittance_2_m)
if(NOT e1 MATCHES "^(2\\.9|3\\.0)[0-9]*e-08$" OR NOT e2 MATCHES "e-1[0-4]$")
    message(FATAL_ERROR "mode emittances about the orbit: ${e1}, ${e2}")
endif()
# a line without kickers and monitors has nothing to correct with
expect_failure(1 "--correct-orbit: the orbit response needs monitors and kickers" ${EXAMPLES}/dba-cell.lat --correct-orbit 0)
