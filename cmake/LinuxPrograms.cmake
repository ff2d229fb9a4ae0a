# Linux programs: the controller tool over the simulated machine, and its tests.
include(cmake/Tarvelctl.cmake)
target_link_libraries(unit_tests PRIVATE tarvelctl_core)

# The built program end to end: write a file, then read it back.
add_test(NAME tarvelctl.policy_write_show
         COMMAND ${CMAKE_COMMAND} -DTARVELCTL=$<TARGET_FILE:tarvelctl>
                 -DWORK_DIR=${CMAKE_BINARY_DIR}/tarvelctl-test
                 -P ${CMAKE_SOURCE_DIR}/tests/cli/PolicyWriteShow.cmake)
