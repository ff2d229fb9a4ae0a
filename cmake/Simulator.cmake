# The simulator: the service's real code from the entry routine on, on the simulated machine.
file(GLOB sim_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/programs/tarvel-sim/*.cpp)
list(FILTER sim_srcs EXCLUDE REGEX "/main.cpp$")
add_library(tarvel_simulator STATIC ${sim_srcs})
target_link_libraries(tarvel_simulator PUBLIC tarvel_service tarvel_platform_sim tarvelctl_core)
add_executable(tarvel-sim ${CMAKE_SOURCE_DIR}/programs/tarvel-sim/main.cpp)
target_link_libraries(tarvel-sim PRIVATE tarvel_simulator)

# The default scenario, end to end, as a user runs it; ctest shows its real time.
add_test(NAME tarvel-sim.default COMMAND tarvel-sim)
set_tests_properties(tarvel-sim.default PROPERTIES PASS_REGULAR_EXPRESSION "Exit code: 0"
                                                 TIMEOUT 60)
