# Linux build: the simulated Windows machine, the unit tests and the simulator.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)

tarvel_library(tarvel_platform_sim platform/sim tarvel_platform PkgConfig::GCRYPT)

include(cmake/Simulator.cmake)

enable_testing()
find_package(GTest REQUIRED)
file(GLOB_RECURSE unit_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${unit_srcs})
target_link_libraries(unit_tests PRIVATE tarvel_simulator tarvel_service tarvel_platform_sim GTest::gtest
                                         GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE TARVEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# GoogleTest's headers, parsed once for the whole suite rather than once per test file.
target_precompile_headers(unit_tests PRIVATE <gtest/gtest.h> <functional> <map> <memory> <string>
                          <vector>)
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

include(cmake/LinuxPrograms.cmake)

# The includes point down the layers, and the check catches each kind that does not.
add_test(NAME layers COMMAND ${CMAKE_SOURCE_DIR}/tests/cli/check-layers-catches.sh)
