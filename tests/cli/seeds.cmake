# The error study in parts joined as one run gives it, every seed's aperture on one and on two threads,
# the mode emittances per seed, and the options of the correction's monitors
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

file(WRITE ${WORK}/ring.madx "beam, particle=electron, pc=1;\n"
    "qf: quadrupole, l=0.3, k1=1.1;\nqd: quadrupole, l=0.3, k1=-1.0;\nb: sbend, l=2, angle=0.3141592653589793;\n"
    "k: kicker, l=0.1;\nm: monitor;\nd: drift, l=0.4;\nrf: rfcavity, l=0, volt=0.5, harmon=100;\n"
    "cell: line=(rf, k, qf, m, d, b, d, k, qd, m, d, b, d);\nring: line=(10*cell);\n")
file(WRITE ${WORK}/set.json [=[{"seed": 3, "rules": [
  {"elements": {"family": "quadrupole"}, "error": "dy", "sigma": 1e-4},
  {"elements": {"family": "quadrupole"}, "error": "dpsi", "sigma": 1e-3}]}]=])
set(study ${WORK}/ring.madx --errors ${WORK}/set.json --seeds 3 --correct-orbit svd --monitor-noise 1e-6
    --seeds-aperture da --da-angles 3 --da-turns 20 --da-resolution 1)
run_cli(${study} --threads 2 --report ${WORK}/whole.json)
run_cli(${study} --threads 1 --report ${WORK}/one-thread.json)
foreach(k 1 2)
    run_cli(${study} --part ${k}/2 --report ${WORK}/part${k}.json)
endforeach()
run_cli(--merge ${WORK}/part2.json ${WORK}/part1.json --report ${WORK}/merged.json)
file(READ ${WORK}/whole.json whole)
file(READ ${WORK}/one-thread.json single)
file(READ ${WORK}/merged.json merged)
string(JSON a GET "${whole}" seeds)
string(JSON b GET "${merged}" seeds)
string(JSON c GET "${single}" seeds)
if(NOT a STREQUAL b OR NOT a STREQUAL c)
    message(FATAL_ERROR "the study in one run:\n${a}\njoined from parts:\n${b}\non one thread:\n${c}")
endif()
expect_json("${whole}" "3" seeds computed)
expect_json("${whole}" "3" seeds statistics da_area_mm2 count)
expect_json("${whole}" "3" seeds statistics emittance_2_m count)
string(JSON eps2 GET "${whole}" seeds per_seed 1 emittance_2_m)
if(NOT eps2 MATCHES "e-(09|1[0-9])$")
    message(FATAL_ERROR "the vertical mode emittance of seed 4 with rolled quadrupoles: ${eps2}")
endif()

# a part of another study, a part twice
run_cli(${study} --seed 9 --part 2/2 --report ${WORK}/other.json)
expect_failure(1 "a part of scans of another lattice or with other settings"
               --merge ${WORK}/part1.json ${WORK}/other.json)
expect_failure(1 "is there twice" --merge ${WORK}/part1.json ${WORK}/part1.json)
expect_failure(2 "--monitors-off and --monitor-noise go with --correct-orbit"
               ${WORK}/ring.madx --errors ${WORK}/set.json --seeds 2 --monitor-noise 1e-6 --report ${WORK}/x.json)
expect_failure(1 "--monitors-off: '^zz' matches no monitor of the line"
               ${WORK}/ring.madx --errors ${WORK}/set.json --seeds 2 --correct-orbit svd --monitors-off "^zz"
               --report ${WORK}/x.json)
expect_failure(2 "--seeds-aperture: 'fm' is none of da, ma and da,ma"
               ${WORK}/ring.madx --errors ${WORK}/set.json --seeds 2 --seeds-aperture fm --report ${WORK}/x.json)
