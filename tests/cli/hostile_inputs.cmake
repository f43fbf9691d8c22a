# Careless and hostile uses of the batch tool end with a message and a status, never a crash, and no
# output replaces a file it should not.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

# values no box takes
expect_failure(2 "the rf frequency must be at most 100000 MHz!" ${EXAMPLES}/dba-cell.lat
               --set ring.rf_frequency_mhz=1.8e302 --report -)
expect_failure(2 "the rf voltage must be at most" ${EXAMPLES}/dba-cell.lat --set rf.voltage_kv=2147483648)
expect_failure(2 "--scan: the scan momentum must be at most" ${EXAMPLES}/dba-cell.lat
               --scan energy_acceptance 1e308 1e308)
expect_failure(2 "--scan: the scan momentum must be above 0 GeV!" ${EXAMPLES}/dba-cell.lat
               --scan energy_acceptance -2 2)
expect_failure(2 "--track: the number of turns must be at most 1000000!" ${EXAMPLES}/dba-cell.lat
               --track 2147483647 1 0 0 0)

# MAD-X input whose beam no particle has, and files that are no input
file(WRITE ${WORK}/hot.madx "beam, energy=1e300;\nd: drift, l=1;\nbl: line=(d);\n")
expect_failure(1 "is outside the program's range" ${WORK}/hot.madx --report -)
file(WRITE ${WORK}/zero.madx "call, file=\"/dev/zero\";\n")
expect_failure(1 "/dev/zero: it is not a regular file" ${WORK}/zero.madx --list lattice)
file(MAKE_DIRECTORY ${WORK}/folder.lat)
expect_failure(1 "cannot open lattice file ${WORK}/folder.lat: it is a directory" ${WORK}/folder.lat)

# an output never replaces the lattice read, nor another output
file(COPY ${EXAMPLES}/fodo-cell.lat DESTINATION ${WORK})
expect_failure(2 "--save would overwrite the lattice file" ${WORK}/fodo-cell.lat --save ${WORK}/fodo-cell.lat)
expect_failure(2 "--twiss and --profile write the same file" ${WORK}/fodo-cell.lat --twiss ${WORK}/a.csv
               --profile ${WORK}/./a.csv)

# a read-only target is refused, a private one stays private, a link is written through
file(WRITE ${WORK}/frozen.csv "keep")
file(CHMOD ${WORK}/frozen.csv PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
expect_failure(1 "is read-only. Replace it? -- answered No" ${WORK}/fodo-cell.lat --twiss ${WORK}/frozen.csv)
file(READ ${WORK}/frozen.csv kept)
if(NOT kept STREQUAL "keep")
    message(FATAL_ERROR "a read-only file was replaced")
endif()
file(WRITE ${WORK}/private.csv "old")
file(CHMOD ${WORK}/private.csv PERMISSIONS OWNER_READ OWNER_WRITE)
run_cli(${WORK}/fodo-cell.lat --twiss ${WORK}/private.csv)
execute_process(COMMAND stat -c %a ${WORK}/private.csv OUTPUT_VARIABLE mode OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT mode STREQUAL "600")
    message(FATAL_ERROR "a private file became mode ${mode}")
endif()
file(MAKE_DIRECTORY ${WORK}/real)
file(CREATE_LINK ${WORK}/real/twiss.csv ${WORK}/link.csv SYMBOLIC)
run_cli(${WORK}/fodo-cell.lat --twiss ${WORK}/link.csv)
if(NOT IS_SYMLINK ${WORK}/link.csv OR NOT EXISTS ${WORK}/real/twiss.csv)
    message(FATAL_ERROR "the link was replaced instead of written through")
endif()

# JSON inputs nested without end, or of too many members, are refused before a value is built
string(REPEAT "[" 100000 open)
string(REPEAT "]" 100000 close)
file(WRITE ${WORK}/deep.json "{\"x\": ${open}${close}, \"y\": 0}")
expect_failure(1 "the match file is not valid JSON: it nests arrays and objects deeper than 100 levels"
               ${EXAMPLES}/dba-cell.lat --match ${WORK}/deep.json)
expect_failure(1 "cannot read part file ${WORK}/deep.json: it nests arrays and objects deeper" --merge
               ${WORK}/deep.json)
execute_process(COMMAND mkfifo ${WORK}/pipe.json)
expect_failure(1 "cannot read part file ${WORK}/pipe.json: it is not a regular file" --merge ${WORK}/pipe.json)

# parts of one scan, and what the merge refuses of them
set(scans ${EXAMPLES}/dba-cell.lat --dynamic-aperture --da-angles 3 --da-turns 20)
run_cli(${scans} --part 1/2 --report ${WORK}/part1.json)
run_cli(${scans} --part 2/2 --report ${WORK}/part2.json)
run_cli(${scans} --physical-aperture 29 15 --part 2/2 --report ${WORK}/foreign.json)
expect_failure(1 "${WORK}/foreign.json: a part of scans of another lattice or with other settings" --merge
               ${WORK}/part1.json ${WORK}/foreign.json)
expect_failure(2 "--report would overwrite the part file ${WORK}/part2.json that is read" --merge
               ${WORK}/part1.json ${WORK}/part2.json --report ${WORK}/part2.json)
file(READ ${WORK}/part2.json part)
string(JSON part SET "${part}" parts 4294967297)
file(WRITE ${WORK}/wrapped.json "${part}")
expect_failure(1 "${WORK}/wrapped.json: not a part written by --part (\"parts\" is not a whole number" --merge
               ${WORK}/wrapped.json)

# standard output that cannot be written ends with status 1 and says so
foreach(args "${EXAMPLES}/dba-cell.lat;--list;magnets" "${EXAMPLES}/dba-cell.lat;--report;-"
        "${EXAMPLES}/dba-cell.lat;--track;2000;1;0;0;0" "--merge;${WORK}/part1.json;${WORK}/part2.json")
    execute_process(COMMAND ${CLI} ${args} OUTPUT_FILE /dev/full RESULT_VARIABLE rc ERROR_VARIABLE err)
    string(FIND "${err}" "cannot write to standard output: No space left on device" at)
    if(NOT rc EQUAL 1 OR at EQUAL -1)
        message(FATAL_ERROR "'${args}' into a full disk: status ${rc}, ${err}")
    endif()
endforeach()

# threads the system cannot start leave their share to those that could (a sanitizer's shadow memory does
# not fit under the memory limit that makes the threads fail)
if(NOT SANITIZED)
    set(rays ${EXAMPLES}/dba-cell.lat --dynamic-aperture --da-angles 300 --da-turns 10 --report -)
    execute_process(COMMAND sh -c "ulimit -v 600000; exec \"$0\" \"$@\"" ${CLI} ${rays} --threads 256
                    RESULT_VARIABLE rc OUTPUT_VARIABLE limited ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "256 threads in 600 MB: status ${rc}, ${err}")
    endif()
    run_cli(${rays} --threads 1)
    string(JSON a GET "${limited}" dynamic_aperture radius_mm)
    string(JSON b GET "${out}" dynamic_aperture radius_mm)
    if(NOT a STREQUAL b)
        message(FATAL_ERROR "fewer threads changed the aperture: ${a} against ${b}")
    endif()
endif()
expect_failure(2 "'--threads' must be a whole number between 0 and 256" ${scans} --threads 257)
