# The zip for Windows: veloxa2-gui-<version>-windows-x64.zip holds one folder
# of that name with the three programs (static: no DLL beside them), a README
# for Windows users and the copyright file, both with Windows line ends.
set(windows_docs ${CMAKE_BINARY_DIR}/packaging/windows)
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt ${windows_docs}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright ${windows_docs}/COPYRIGHT.txt COPYONLY)
file(READ ${windows_docs}/COPYRIGHT.txt copyright_text)
file(CONFIGURE OUTPUT ${windows_docs}/COPYRIGHT.txt CONTENT "${copyright_text}" NEWLINE_STYLE CRLF)
install(FILES ${windows_docs}/README.txt ${windows_docs}/COPYRIGHT.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME veloxa2-gui)
set(CPACK_PACKAGE_VENDOR KW)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME veloxa2-gui-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
