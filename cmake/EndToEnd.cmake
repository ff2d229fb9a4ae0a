# The end-to-end suite: the real service and tarvelctl under Wine, with a helper for what Wine's
# own tools cannot do (custom control codes, device broadcasts, the service's security, drives).
add_executable(tarvel-e2e-probe ${CMAKE_SOURCE_DIR}/tests/e2e/E2eProbe.cpp)
target_link_libraries(tarvel-e2e-probe PRIVATE tarvel_platform_win32)
target_link_options(tarvel-e2e-probe PRIVATE -municode)

# Both builds run here: the shipped i686 build under WOW64, the x86_64 build natively. The other
# bitness's build (by default the sibling preset's folder) lends its probe for a broadcast across
# the WOW64 boundary; the i686 run fails without it.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(peer_default ${CMAKE_BINARY_DIR}/../windows-x86)
else()
  set(peer_default ${CMAKE_BINARY_DIR}/../windows-x64)
endif()
set(TARVEL_E2E_PEER_BUILD ${peer_default} CACHE PATH
    "The other bitness's Windows build, whose tarvel-e2e-probe.exe sends one broadcast")
add_test(NAME e2e.service COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/service-e2e.sh
                                  ${CMAKE_BINARY_DIR} ${TARVEL_E2E_PEER_BUILD})
math(EXPR limit "300 * ${TARVEL_WINE_TIME_SCALE}")
set_tests_properties(e2e.service PROPERTIES TIMEOUT ${limit} RESOURCE_LOCK wine
                                            SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  # The emulator's proof of the shipped build: its service under WOW64, driven by the x86_64
  # build's tarvelctl and probe (scripts/test.sh runs the label where 32-bit programs run under an
  # emulator; elsewhere the whole set runs and the proof is skipped).
  add_test(NAME e2e.wow64-proof COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/wow64-proof.sh
                                        ${CMAKE_BINARY_DIR} ${TARVEL_E2E_PEER_BUILD})
  set_tests_properties(e2e.wow64-proof PROPERTIES TIMEOUT 1800 RESOURCE_LOCK wine
                       LABELS wow64-proof SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})
endif()
