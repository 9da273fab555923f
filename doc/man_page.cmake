# One manual page: SOURCE (scdoc) to ROFF, and ROFF to ROFF.gz (gzip -9n: no
# name or time stamp inside, so the same source gives the same bytes).
get_filename_component(folder "${ROFF}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${SOURCE}" OUTPUT_FILE "${ROFF}" RESULT_VARIABLE scdoc_result)
if(NOT scdoc_result EQUAL 0)
  file(REMOVE "${ROFF}")
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
execute_process(COMMAND "${GZIP}" -9n -c "${ROFF}" OUTPUT_FILE "${ROFF}.gz" RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${ROFF}")
endif()
