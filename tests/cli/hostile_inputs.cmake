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
