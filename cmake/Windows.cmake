# Windows build (MinGW-w64): the real Win32 layer, the service exe, the tools and the Wine checks.
tarvel_library(tarvel_platform_win32 platform/win32 tarvel_platform)
target_link_libraries(tarvel_platform_win32 PUBLIC advapi32 user32 gdi32 shell32 shlwapi setupapi
                                                   cfgmgr32)
# A static runtime for every program over it: the exes import nothing but Windows' own DLLs
# (Wine refuses the MinGW ones).
target_link_options(tarvel_platform_win32 INTERFACE -static -static-libgcc -static-libstdc++)

enable_testing()
# The Wine suites' time limits are multiplied by this: scripts/test.sh sets 20 where 32-bit
# programs run under an emulator. A suite that is not to run here (an i686 one where 32-bit
# programs cannot run, or one outside the emulator's proof set) exits with 77: shown as skipped,
# its reason in its output (tests/wine/wine-prefix.sh, i686_gate).
set(TARVEL_WINE_TIME_SCALE 1 CACHE STRING "Factor for the Wine suites' time limits (20 under an emulator)")
set(TARVEL_WINE_SKIP 77)
# The harness's own check of that decision; it runs no Wine.
add_test(NAME harness.i386-mode COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/i386-mode-test.sh)
set_tests_properties(harness.i386-mode PROPERTIES TIMEOUT 60)
file(GLOB wine_checks CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*Check.cpp)
list(FILTER wine_checks EXCLUDE REGEX "/WineCheck.cpp$")
foreach(src ${wine_checks})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/wine/WineCheck.cpp)
  target_link_libraries(${name} PRIVATE tarvel_service tarvel_platform_win32)
  add_test(NAME wine.${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-in-prefix.sh $<TARGET_FILE:${name}>)
  math(EXPR limit "180 * ${TARVEL_WINE_TIME_SCALE}")
  set_tests_properties(wine.${name} PROPERTIES TIMEOUT ${limit} RESOURCE_LOCK wine
                                               SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})
endforeach()

include(cmake/WindowsPrograms.cmake)
