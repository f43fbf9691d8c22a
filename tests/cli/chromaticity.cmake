# --chromaticity, --save, --track and the chromaticity and resonance sections of the report.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

# CMake has no float arithmetic: a number's text against a pattern (digits to the precision wanted)
function(expect_match json pattern)
    string(JSON value GET "${json}" ${ARGN})
    if(NOT value MATCHES "${pattern}")
        message(FATAL_ERROR "${ARGN}: '${value}' does not match '${pattern}'")
    endif()
endfunction()

# the correction reaches the wanted values; "1" reads as one (not ten), and the lattice is saved corrected
run_cli(${EXAMPLES}/dba-cell.lat --chromaticity 1 -0.5 --save ${WORK}/corrected.lat --report ${WORK}/corrected.json)
file(READ ${WORK}/corrected.json report)
expect_prefix("${report}" "1.0" chromaticity wanted_x)
# within 1e-9 of the wanted values
set(one "^(1\\.0|1\\.0000000000[0-9]*|0\\.9999999999[0-9]*)$")
set(minusHalf "^-(0\\.5|0\\.5000000000[0-9]*|0\\.4999999999[0-9]*)$")
expect_match("${report}" "${one}" chromaticity corrected_x)
expect_match("${report}" "${minusHalf}" chromaticity corrected_y)
expect_prefix("${report}" "-14.7" chromaticity natural_x)
expect_prefix("${report}" "2" chromaticity mf_per_m3)
expect_prefix("${report}" "-" chromaticity md_per_m3)
expect_prefix("${report}" "0.0" chromaticity special_sextupoles_x)

# the saved lattice has the chromaticities of the correction; without --chromaticity nothing is wanted
run_cli(${WORK}/corrected.lat --report ${WORK}/saved.json)
file(READ ${WORK}/saved.json report)
expect_match("${report}" "${one}" chromaticity corrected_x)
expect_match("${report}" "${minusHalf}" chromaticity corrected_y)
string(JSON wanted TYPE "${report}" chromaticity wanted_x)
string(JSON mf TYPE "${report}" chromaticity mf_per_m3)
if(NOT wanted STREQUAL "NULL" OR NOT mf STREQUAL "NULL")
    message(FATAL_ERROR "a lattice without a correction: wanted ${wanted}, mf ${mf}")
endif()

# the resonance section: the working point inside its unit square
expect_prefix("${report}" "9.47" resonance tune_x)
expect_prefix("${report}" "9" resonance square tune_x_min)
expect_prefix("${report}" "10" resonance square tune_x_max)
expect_prefix("${report}" "4" resonance square tune_y_min)
expect_prefix("${report}" "5" resonance square tune_y_max)

# a ring without SF and SD sextupoles: the correction is refused, nothing is saved
expect_failure(1 "there are no \"SF\" and \"SD\" sextupoles." ${EXAMPLES}/fodo-cell.lat --chromaticity 0 0)

# a ring with an octupole: the symplectic model tracks it, the linear maps name what they cannot model
file(WRITE ${WORK}/octupole.madx "beam, particle=electron, pc=1;\nqf: quadrupole, l=0.2, k1=1.2;\n"
    "qd: quadrupole, l=0.4, k1=-1.2;\nd: drift, l=2;\noc: octupole, l=0.1, k3=50;\n"
    "cell: line=(qf, d, qd, oc, d, qf);\nring: line=(8*cell);\n")
run_cli(${WORK}/octupole.madx --track 3 1 0 0.5 0 --tracking-model symplectic)
expect_failure(1 "octupole" ${WORK}/octupole.madx --track 3 1 0 0.5 0 --tracking-model linear)

# tracking: a header, the start as turn 0, one row per turn; the symplectic model by default, in six
# coordinates, the four of the linear maps with the model named
foreach(model symplectic linear)
    run_cli(${EXAMPLES}/dba-cell.lat --track 3 1 0 0.5 0 --tracking-model ${model})
    set(csv_${model} "${out}")
endforeach()
run_cli(${EXAMPLES}/dba-cell.lat --track 3 1 0 0.5 0)
if(NOT out STREQUAL csv_symplectic)
    message(FATAL_ERROR "the default model is the symplectic one: ${out}")
endif()
foreach(model symplectic linear)
    string(REGEX MATCHALL "[^\n]+" rows "${csv_${model}}")
    list(LENGTH rows count)
    list(GET rows 0 header)
    list(GET rows 1 start)
    set(wanted "turn,x_mm,px_mrad,y_mm,py_mrad,delta_percent,l_mm" "0,1,0,0.5,0,0,0")
    if(model STREQUAL "linear")
        set(wanted "turn,x_mm,xp_mrad,y_mm,yp_mrad" "0,1,0,0.5,0")
    endif()
    if(NOT count EQUAL 5 OR NOT "${header};${start}" STREQUAL "${wanted}")
        message(FATAL_ERROR "${model} tracking CSV: ${csv_${model}}")
    endif()
endforeach()

# the linear maps give the numbers they always gave, digit for digit
run_cli(${EXAMPLES}/dba-cell.lat --track 300 2 0.1 1 0 --off-momentum 0.3 --tracking-model linear)
file(READ ${DATA}/linear-tracking-dba.csv before)
if(NOT out STREQUAL before)
    message(FATAL_ERROR "the linear maps changed their numbers")
endif()

# six coordinates, the rf cavity of the ring's rf settings and the tunes of the run in the report
run_cli(${EXAMPLES}/dba-cell.lat --track 1024 0.5 0 0.2 0 0.02 0 --report ${WORK}/tracked.json)
if(NOT out MATCHES "\n0,0.5,0,0.2,0,0.02,0\n1,")
    message(FATAL_ERROR "six coordinates: ${out}")
endif()
file(READ ${WORK}/tracked.json report)
expect_json("${report}" "symplectic" tracking model)
expect_json("${report}" "1024" tracking turns_tracked)
expect_json("${report}" "ON" tracking rf)
expect_json("${report}" "OFF" tracking lost)
expect_prefix("${report}" "0.470" tracking tune_x)
expect_prefix("${report}" "0.463" tracking tune_y)
# the rf window's synchrotron tune is 0.0092747
expect_prefix("${report}" "0.00927" tracking synchrotron_tune)
run_cli(${EXAMPLES}/dba-cell.lat --report ${WORK}/untracked.json)
file(READ ${WORK}/untracked.json report)
string(JSON tracking TYPE "${report}" tracking)
if(NOT tracking STREQUAL "NULL")
    message(FATAL_ERROR "a report without --track has no tracking section: ${tracking}")
endif()

# a particle at 600 mm is lost in the first turn after the first element
run_cli(${EXAMPLES}/dba-cell.lat --track 10 600 0 0 0)
if(NOT out MATCHES "\n# particle was lost during turn # 1 after element 1\n$" OR NOT err MATCHES "particle was lost during turn # 1")
    message(FATAL_ERROR "lost particle: ${out} ${err}")
endif()

# the aperture, off momentum and numbers of sigmas
run_cli(${EXAMPLES}/dba-cell.lat --track 10 10 0 0 0 --aperture 5)
if(NOT out MATCHES "# particle was lost during turn # 1 after element")
    message(FATAL_ERROR "aperture: ${out}")
endif()
run_cli(${EXAMPLES}/dba-cell.lat --track 2 1 0 0 0 --off-momentum 0.5)
string(REGEX MATCHALL "[^\n]+" rows "${out}")
list(LENGTH rows count)
if(NOT count EQUAL 4)
    message(FATAL_ERROR "off momentum: ${out}")
endif()
run_cli(${EXAMPLES}/dba-cell.lat --track 1 2 0 0 0 --sigmas --set beam.coupling_percent=1)
string(REGEX MATCH "\n0,([0-9.]+),0,0,0,0,0\n" start "${out}")
if(NOT start OR CMAKE_MATCH_1 STREQUAL "2")
    message(FATAL_ERROR "two sigmas are millimetres of the equilibrium beam: ${out}")
endif()

# wrong use
expect_failure(2 "--off-momentum, --aperture and --sigmas go with --track" ${EXAMPLES}/dba-cell.lat --aperture 3)
expect_failure(2 "--track: the number of turns must be at least 1" ${EXAMPLES}/dba-cell.lat --track 0 1 0 0 0)
expect_failure(2 "--track: 'x' is not a valid floating point value" ${EXAMPLES}/dba-cell.lat --track 5 x 0 0 0)
expect_failure(2 "--off-momentum: the momentum deviation must be above -100 %" ${EXAMPLES}/dba-cell.lat
              --track 5 1 0 0 0 --off-momentum -100)
expect_failure(2 "--chromaticity: 'a' is not a valid floating point value" ${EXAMPLES}/dba-cell.lat --chromaticity 1 a)
expect_failure(2 "--tracking-model: 'thin' is neither symplectic nor linear" ${EXAMPLES}/dba-cell.lat
               --track 5 1 0 0 0 --tracking-model thin)
expect_failure(2 "--track takes TURNS X XP Y YP, or TURNS X XP Y YP DELTA L" ${EXAMPLES}/dba-cell.lat
               --track 5 1 0 0 0 0.1)
expect_failure(2 "--off-momentum and the DELTA of --track exclude each other" ${EXAMPLES}/dba-cell.lat
               --track 5 1 0 0 0 0.1 0 --off-momentum 0.1)
expect_failure(2 "--track: the linear model has no path length L" ${EXAMPLES}/dba-cell.lat
               --track 5 1 0 0 0 0.1 2 --tracking-model linear)
