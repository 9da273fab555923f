# INPUT to OUTPUT with gzip -9n: no name or time stamp inside, so the same
# input gives the same bytes, as Debian wants its compressed documentation.
execute_process(COMMAND "${GZIP}" -9n -c "${INPUT}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "gzip failed on ${INPUT}")
endif()
