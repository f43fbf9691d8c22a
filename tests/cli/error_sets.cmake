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
# --seeds: the error study of the ring with its monitors and kickers, each seed corrected; a seed's
# numbers are those of the same seed in a longer study
file(WRITE ${WORK}/ring.madx "beam, particle=electron, pc=1;\n"
    "qf: quadrupole, l=0.3, k1=1.1;\nqd: quadrupole, l=0.3, k1=-1.0;\nb: sbend, l=2, angle=0.1570796326794897;\n"
    "k: kicker, l=0.1;\nm: monitor;\nd: drift, l=0.4;\n"
    "cell: line=(k, qf, m, d, b, d, k, qd, m, d, b, d);\n"
    "ring: line=(cell, cell, cell, cell, cell, cell, cell, cell, cell, cell);\n")
file(WRITE ${WORK}/offsets.json [=[{"seed": 3, "rules": [
  {"elements": {"family": "quadrupole"}, "error": "dx", "sigma": 1e-4}]}]=])
run_cli(${WORK}/ring.madx --errors ${WORK}/offsets.json --seeds 4 --correct-orbit svd --report ${WORK}/study.json)
run_cli(${WORK}/ring.madx --errors ${WORK}/offsets.json --seed 5 --seeds 1 --correct-orbit svd --report ${WORK}/one.json)
file(READ ${WORK}/study.json study)
file(READ ${WORK}/one.json one)
expect_json("${study}" "4" seeds computed)
expect_json("${study}" "ON" seeds corrected)
string(JSON third GET "${study}" seeds per_seed 2 x_rms_m)
string(JSON alone GET "${one}" seeds per_seed 0 x_rms_m)
string(JSON after GET "${study}" seeds statistics corrected_x_rms_m rms)
if(NOT third STREQUAL alone OR NOT after MATCHES "e-(1[0-9]|[2-9][0-9])$")
    message(FATAL_ERROR "seed 5: ${third} and alone ${alone}; corrected rms ${after}")
endif()
expect_failure(2 "--seeds runs the error study of --errors into --report" ${WORK}/ring.madx --errors ${WORK}/offsets.json --seeds 2)
