# --errors and --seed: an error set drawn into the line before it is saved; the same seed saves the same
# file, another seed another, and a bad set stops the tool before anything is computed
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

file(WRITE ${WORK}/set.json [=[{"seed": 5, "rules": [
  {"elements": {"family": "quadrupole"}, "error": "dx", "sigma": 1e-4, "cut": 2.5},
  {"elements": {"pattern": "^Q"}, "error": "dkn", "order": 2, "radius": 0.02, "value": 1e-4}]}]=])
run_cli(${EXAMPLES}/fodo-cell.lat --errors ${WORK}/set.json --save ${WORK}/a.lat)
run_cli(${EXAMPLES}/fodo-cell.lat --errors ${WORK}/set.json --seed 5 --save ${WORK}/b.lat)
run_cli(${EXAMPLES}/fodo-cell.lat --errors ${WORK}/set.json --seed 6 --save ${WORK}/c.lat)
file(READ ${WORK}/a.lat a)
file(READ ${WORK}/b.lat b)
file(READ ${WORK}/c.lat c)
if(NOT a MATCHES " align=[-0-9.e]+:0:0:0:0:0 dkn=0,0,[-0-9.e]+" OR NOT a STREQUAL b OR a STREQUAL c)
    message(FATAL_ERROR "the saved errors: ${a}")
endif()
file(WRITE ${WORK}/bad.json [=[{"rules": [{"elements": {}, "error": "dx", "sigma": 1e-4, "cut": 50}]}]=])
expect_failure(1 "error set, rule 1: \"cut\" must be from 0.1 to 30 (sigma)"
               ${EXAMPLES}/fodo-cell.lat --errors ${WORK}/bad.json)
expect_failure(2 "--seed is the seed of --errors" ${EXAMPLES}/fodo-cell.lat --seed 1)
