# Runs a QtTest program through an emulator (Wine for a cross-built Windows
# program) with its log written to a file, prints that log and fails unless
# the program's own closing line says that nothing failed. A Windows program
# run by Wine with its output on a pipe loses what QtTest writes there, and
# Wine may end a crashed program with status 0: the log file is what counts.
#   cmake -DEMULATOR=<wine> -DPROGRAM=<test.exe> -DLOG=<file> -P run_logged.cmake
file(REMOVE ${LOG})
execute_process(COMMAND ${EMULATOR} ${PROGRAM} -o ${LOG},txt RESULT_VARIABLE status)
if(EXISTS ${LOG})
  file(READ ${LOG} text)
  message("${text}")
endif()
if(NOT status EQUAL 0 OR NOT text MATCHES "\nTotals: [0-9]+ passed, 0 failed")
  message(FATAL_ERROR "${PROGRAM}: exit status ${status}, or no closing line without failures")
endif()
