# --match runs a match before the lists and the report; the report gets its "match" section.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

file(WRITE ${WORK}/tunes.json [=[
{"start": "periodic",
 "variables": [{"element": "QF", "field": "k", "min": 0, "max": 5},
               {"element": "QD", "field": "k"}],
 "constraints": [{"quantity": "tune_x", "value": 0.26},
                 {"quantity": "tune_y", "value": 0.21},
                 {"quantity": "beta_x_m", "at": "QD", "relation": "<=", "value": 20.0}]}
]=])
run_cli(${EXAMPLES}/fodo-cell.lat --match ${WORK}/tunes.json --save ${WORK}/matched.lat --report ${WORK}/m.json)
file(READ ${WORK}/m.json report)
expect_json("${report}" "ON" match converged)
expect_json("${report}" "QF" match variables 0 element)
expect_json("${report}" "3.0" match variables 0 start)
expect_json("${report}" "QD" match constraints 2 at)
expect_json("${report}" "<=" match constraints 2 relation)
# the ring tunes of the report come from the matched strengths
expect_prefix("${report}" "0.2600000000" periodic tune_x)
expect_prefix("${report}" "0.2100000000" periodic tune_y)
string(FIND "${err}" "match: converged after" at)
if(at EQUAL -1)
    message(FATAL_ERROR "no summary: ${err}")
endif()
# the saved lattice holds them too
run_cli(${WORK}/matched.lat --report ${WORK}/saved.json)
file(READ ${WORK}/saved.json saved)
expect_prefix("${saved}" "0.2600000000" periodic tune_x)

# more constraints than variables: the least-squares compromise is applied, status 1, the unmet named
file(WRITE ${WORK}/over.json [=[
{"variables": [{"element": "QF"}],
 "constraints": [{"quantity": "tune_x", "value": 0.26}, {"quantity": "tune_y", "value": 0.26}]}
]=])
expect_failure(1 "match: not met: constraint 1 (tune_x), constraint 2 (tune_y)"
               ${EXAMPLES}/fodo-cell.lat --match ${WORK}/over.json --report ${WORK}/over-report.json)
file(READ ${WORK}/over-report.json report)
expect_json("${report}" "OFF" match converged)
expect_json("${report}" "no_progress" match end)
expect_json("${report}" "OFF" match constraints 1 met)

# a malformed file or an unknown name: refused with the entry named, nothing changed
file(WRITE ${WORK}/bad.json [=[{"variables": [{"element": "QF"}], "constraints": [{"quantity": "tune_z", "value": 1}]}]=])
expect_failure(1 "match file, constraint 1: unknown quantity \"tune_z\""
               ${EXAMPLES}/fodo-cell.lat --match ${WORK}/bad.json --report ${WORK}/bad-report.json)
file(READ ${WORK}/bad-report.json report)
string(JSON type TYPE "${report}" match)
if(NOT type STREQUAL "NULL")
    message(FATAL_ERROR "match section of a refused match: ${type}")
endif()
expect_prefix("${report}" "0.239117794" periodic tune_x)

file(WRITE ${WORK}/unknown.json [=[{"variables": [{"element": "QX"}], "constraints": [{"quantity": "tune_x", "value": 1}]}]=])
expect_failure(1 "variable 1 (QX k): there is no element named QX" ${EXAMPLES}/fodo-cell.lat --match ${WORK}/unknown.json)
expect_failure(1 "cannot open the match file" ${EXAMPLES}/fodo-cell.lat --match ${WORK}/missing.json)
