# MAD-X input opens like a lattice file; --export-madx and --tfs write the two exports.
include(${CMAKE_CURRENT_LIST_DIR}/support/CliTest.cmake)

# the MAD-X description of the DBA cell: lists, report and import report
run_cli(${EXAMPLES}/dba-cell.madx --list periodic --report ${WORK}/dba.json --twiss ${WORK}/dba.csv)
if(NOT out MATCHES "Lattice Functions")
    message(FATAL_ERROR "no lattice functions listed: ${out}")
endif()
if(NOT err MATCHES "MAD-X import: beam line dba: 31 elements")
    message(FATAL_ERROR "import report: ${err}")
endif()
file(READ ${WORK}/dba.json report)
string(JSON count GET "${report}" line element_count)
string(JSON stable GET "${report}" periodic stable)
if(NOT count EQUAL 31 OR NOT stable STREQUAL "ON")
    message(FATAL_ERROR "report: ${count} elements, stable ${stable}")
endif()
if(NOT EXISTS ${WORK}/dba.csv)
    message(FATAL_ERROR "--twiss wrote nothing")
endif()

# a lattice file exported to MAD-X and opened again: the same element count and a TFS table
run_cli(${EXAMPLES}/fodo-cell.lat --export-madx ${WORK}/fodo.madx --tfs ${WORK}/fodo.tfs)
file(READ ${WORK}/fodo.madx madx)
if(NOT madx MATCHES "lattice: sequence, l=" OR NOT madx MATCHES "use, sequence=lattice;")
    message(FATAL_ERROR "MAD-X file: ${madx}")
endif()
run_cli(${WORK}/fodo.madx --report -)
string(FIND "${out}" "{" brace)
string(SUBSTRING "${out}" ${brace} -1 json)
string(JSON count GET "${json}" line element_count)
if(NOT count EQUAL 9)
    message(FATAL_ERROR "the exported FODO cell came back with ${count} elements")
endif()
file(STRINGS ${WORK}/fodo.tfs tfs)
list(GET tfs 0 first)
if(NOT first MATCHES "^@ NAME +%05s +\"TWISS\"")
    message(FATAL_ERROR "TFS header: ${first}")
endif()
list(FILTER tfs INCLUDE REGEX "^\\*")
if(NOT tfs MATCHES "NAME +KEYWORD +S +L +BETX +ALFX +MUX +DX +DPX +BETY +ALFY +MUY")
    message(FATAL_ERROR "TFS columns: ${tfs}")
endif()

# the ion line has no MAD-X counterpart for its accelerating elements: status 1, nothing written
execute_process(COMMAND ${CLI} ${EXAMPLES}/ion-line.lat --export-madx ${WORK}/ion.madx
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "cannot export to MAD-X: no MAD-X element for EL \\(einzel lens, element 2\\)"
   OR EXISTS ${WORK}/ion.madx)
    message(FATAL_ERROR "--export-madx of the ion line: ${rc} ${err}")
endif()

# a refused import: status 1 with the file and line
file(WRITE ${WORK}/bad.seq "s: crabcavity, l=1;\nbl: line=(s);\n")
execute_process(COMMAND ${CLI} ${WORK}/bad.seq --list beam RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "bad.seq, line 1: the class crabcavity is not supported")
    message(FATAL_ERROR "refused import: ${rc} ${err}")
endif()
