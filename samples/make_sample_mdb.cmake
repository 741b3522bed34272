# Makes OUT/sample.mdb, an empty Jet 4 database, with `tallyport new`; a fresh
# file every build.
file(REMOVE ${OUT}/sample.mdb)
execute_process(COMMAND ${TALLYPORT} new ${OUT}/sample.mdb RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tallyport new failed for ${OUT}/sample.mdb")
endif()
file(TOUCH ${OUT}/.sample-mdb.stamp)
