# Makes OUT/sample.mdb, an empty Jet 4 database, with `tallyport new` when the
# program has that subcommand; a fresh file every build.
execute_process(COMMAND ${TALLYPORT} --help OUTPUT_VARIABLE usage)
if(usage MATCHES "tallyport new")
  file(REMOVE ${OUT}/sample.mdb)
  execute_process(COMMAND ${TALLYPORT} new ${OUT}/sample.mdb RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "tallyport new failed for ${OUT}/sample.mdb")
  endif()
else()
  message(STATUS "tallyport has no `new` subcommand yet: no sample.mdb")
endif()
file(TOUCH ${OUT}/.sample-mdb.stamp)
