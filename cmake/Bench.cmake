# Benchmarks: what the service costs its machine. On Linux the bench program over the simulated
# machine and the allocation test of the poll; on Windows the reference services and the tick
# bench that scripts/bench.sh runs under wine64.
if(WIN32)
  # Each bench/windows/*.cpp is one exe; the Service ones run as services, the GUI subsystem as
  # the service itself does.
  file(GLOB bench_windows_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/windows/*.cpp)
  foreach(src ${bench_windows_srcs})
    get_filename_component(name ${src} NAME_WE)
    if(name MATCHES "Service$")
      add_executable(${name} WIN32 ${src})
      target_link_options(${name} PRIVATE -municode)
    else()
      add_executable(${name} ${src})
    endif()
    target_link_libraries(${name} PRIVATE tarvel_service tarvel_platform_win32)
  endforeach()
  return()
endif()

find_package(benchmark REQUIRED)

# The bench machines, the platform-call marker and the counting operator new: linked as objects,
# so that the replacement allocation functions are always the ones in use.
add_library(tarvel_bench_support OBJECT ${CMAKE_SOURCE_DIR}/bench/sim/BenchMachine.cpp
                                        ${CMAKE_SOURCE_DIR}/bench/sim/MarkedPlatform.cpp
                                        ${CMAKE_SOURCE_DIR}/bench/sim/ServiceAccounting.cpp)
target_link_libraries(tarvel_bench_support PUBLIC tarvel_service tarvel_platform_sim tarvelctl_core)

add_executable(tarvel-bench ${CMAKE_SOURCE_DIR}/bench/sim/SimBench.cpp
                            ${CMAKE_SOURCE_DIR}/bench/sim/TableReporter.cpp)
target_link_libraries(tarvel-bench PRIVATE tarvel_bench_support tarvel_simulator
                                           benchmark::benchmark)

# A few iterations of every benchmark: the program builds and runs; no figure is checked.
add_test(NAME bench.smoke COMMAND tarvel-bench --benchmark_min_time=0.001)
# The same through the table reporter: every row of scripts/bench.sh's table gets its figure.
add_test(NAME bench.table COMMAND tarvel-bench --table --benchmark_min_time=0.001)
set_tests_properties(bench.smoke bench.table PROPERTIES TIMEOUT 60)

# The delegating platform areas and the table reporter. One ctest entry named bench.*, as the
# bench programs' are, so that the presets that do not build it leave it out.
file(GLOB bench_test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/tests/*.cpp)
add_executable(bench_tests ${bench_test_srcs} ${CMAKE_SOURCE_DIR}/bench/sim/TableReporter.cpp)
target_link_libraries(bench_tests PRIVATE tarvel_bench_support benchmark::benchmark GTest::gtest
                                          GTest::gtest_main)
add_test(NAME bench.unit COMMAND bench_tests)
set_tests_properties(bench.unit PROPERTIES TIMEOUT 60)

# The poll's steady path allocates nothing of its own; this needs the counting operator new, so
# it is a program of its own rather than part of unit_tests.
file(GLOB alloc_test_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/alloc/*.cpp)
add_executable(alloc_tests ${alloc_test_srcs})
target_link_libraries(alloc_tests PRIVATE tarvel_bench_support GTest::gtest GTest::gtest_main)
gtest_discover_tests(alloc_tests DISCOVERY_TIMEOUT 60)
