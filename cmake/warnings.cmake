# The warnings every target of the project is built with, as one INTERFACE
# target: link `veloxa_warnings` PRIVATE (or through a target that links it
# PUBLIC or INTERFACE) and the target gets them; nothing else is touched, so
# Qt's headers and third-party code keep their own flags.
#
# VELOXA_WERROR makes them errors (the test build sets it).
add_library(veloxa_warnings INTERFACE)
if(MSVC)
  target_compile_options(veloxa_warnings INTERFACE /W4 /permissive- $<$<BOOL:${VELOXA_WERROR}>:/WX>)
else()
  target_compile_options(veloxa_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    $<$<BOOL:${VELOXA_WERROR}>:-Werror>)
endif()
