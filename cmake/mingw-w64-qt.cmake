# The mingw-w64 toolchain (mingw-w64.cmake) with the Qt that scripts/windows-qt
# builds: Debian's qt6-base of the host Qt's version, static, for Windows x64,
# in ${XDG_CACHE_HOME:-$HOME/.cache}/veloxa2/qt-<version>-x86_64-w64-mingw32
# (or VELOXA_WINDOWS_QT). The host's moc, rcc and uic serve the build.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

if(NOT VELOXA_WINDOWS_QT)
  file(STRINGS /usr/lib/x86_64-linux-gnu/cmake/Qt6/Qt6ConfigVersionImpl.cmake host_qt
       REGEX "^set\\(PACKAGE_VERSION \"[0-9.]+\"\\)$")
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" host_qt_version "${host_qt}")
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache $ENV{XDG_CACHE_HOME})
  else()
    set(cache $ENV{HOME}/.cache)
  endif()
  set(VELOXA_WINDOWS_QT ${cache}/veloxa2/qt-${host_qt_version}-${VELOXA_MINGW_TRIPLET})
endif()
if(NOT EXISTS ${VELOXA_WINDOWS_QT}/veloxa2-built-from)
  message(FATAL_ERROR "No Qt for Windows in ${VELOXA_WINDOWS_QT}: scripts/windows-qt builds it")
endif()
# try_compile projects see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELOXA_WINDOWS_QT)

list(APPEND CMAKE_FIND_ROOT_PATH ${VELOXA_WINDOWS_QT})
list(APPEND CMAKE_PREFIX_PATH ${VELOXA_WINDOWS_QT})
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
