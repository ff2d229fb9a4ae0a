# Linux programs: the controller tool over the simulated machine, and its tests.
file(GLOB tarvelctl_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tarvelctl/*.cpp)
list(FILTER tarvelctl_srcs EXCLUDE REGEX "/(main|Host[A-Za-z0-9]*)\\.cpp$")
# The file-security calls over the simulated machine.
file(GLOB tarvelctl_sim_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tarvelctl/sim/*.cpp)
# The tool's logic as a library, so that the unit tests run its commands.
add_library(tarvelctl_core STATIC ${tarvelctl_srcs} ${tarvelctl_sim_srcs}
                                  ${CMAKE_SOURCE_DIR}/tools/tarvelctl/HostSim.cpp)
target_link_libraries(tarvelctl_core PUBLIC tarvel_policy tarvel_platform_sim)
add_executable(tarvelctl ${CMAKE_SOURCE_DIR}/tools/tarvelctl/main.cpp)
target_link_libraries(tarvelctl PRIVATE tarvelctl_core)
target_link_libraries(unit_tests PRIVATE tarvelctl_core)

# The built program end to end: write a file, then read it back.
add_test(NAME tarvelctl.policy_write_show
         COMMAND ${CMAKE_COMMAND} -DTARVELCTL=$<TARGET_FILE:tarvelctl>
                 -DWORK_DIR=${CMAKE_BINARY_DIR}/tarvelctl-test
                 -P ${CMAKE_SOURCE_DIR}/tests/cli/PolicyWriteShow.cmake)
target_compile_definitions(unit_tests PRIVATE TARVEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
