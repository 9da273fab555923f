# The Debian package of the panel, its simulator and its command-line tool:
#   cmake --build <build> && cd <build> && cpack -G DEB
# It installs under /usr and depends on Debian's Qt 6 packages.

set(CPACK_PACKAGE_NAME "veloxa2-gui")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "KW")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description: lines of less than 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Veloxa2 GUI sets the DDS frequency of a networked laser frequency-offset\n"
  "unit and shows the laser offset frequency, runs frequency ramps, fills and\n"
  "runs the unit's command sequence, and sets polarity, DDS power, gain and\n"
  "display contrast, all over UDP.\n"
  "The package also holds veloxa2-ctl, which sends the same commands from\n"
  "scripts, and veloxa2-unit-sim, a simulated unit to try both without the\n"
  "hardware.")
set(CPACK_PACKAGE_CONTACT "Veloxa2 GUI maintainers <veloxa2@example.org>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The programs go into the package stripped (a Debug tree's too), and the
# control files with the permissions Debian asks for.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Depends: with dpkg-shlibdeps (package dpkg-dev) the packages and versions of
# every shared library the programs link, Debian's Qt 6 among them; without
# it, Debian's Qt 6 packages in at least the version built against.
find_program(VELOXA_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(VELOXA_DPKG_SHLIBDEPS)
if(VELOXA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(qt_minimum "${Qt6Core_VERSION}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6core6 (>= ${qt_minimum}), libqt6gui6 (>= ${qt_minimum}), libqt6widgets6 (>= ${qt_minimum}), libqt6network6 (>= ${qt_minimum})")
endif()

set(CPACK_GENERATOR "DEB")
include(CPack)
