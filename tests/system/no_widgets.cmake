# Fails when one of PROGRAMS (a ;-list) is linked against Qt Gui or Qt
# Widgets: the tools are built on the core alone.
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ldd ${program} OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "ldd ${program} failed")
  endif()
  if(libraries MATCHES "libQt6(Gui|Widgets)")
    message(FATAL_ERROR "${program} links ${CMAKE_MATCH_0}:\n${libraries}")
  endif()
  message(STATUS "${program}: no Qt Gui, no Qt Widgets")
endforeach()
