# The end-to-end suite: the real service and tarvelctl under Wine, with a helper for what Wine's
# own tools cannot do (custom control codes, device broadcasts, the service's security, drives).
add_executable(tarvel-e2e-probe ${CMAKE_SOURCE_DIR}/tests/e2e/E2eProbe.cpp)
target_link_libraries(tarvel-e2e-probe PRIVATE tarvel_platform_win32)
target_link_options(tarvel-e2e-probe PRIVATE -municode)

# Only the x86_64 build runs here.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME e2e.service COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/service-e2e.sh
                                    ${CMAKE_BINARY_DIR})
  set_tests_properties(e2e.service PROPERTIES TIMEOUT 300 RESOURCE_LOCK wine)
endif()
