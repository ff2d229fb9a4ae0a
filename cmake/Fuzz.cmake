# Fuzz build (clang): the subsystems over the simulated machine and the libFuzzer targets only.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TARVEL_FUZZ needs clang (libFuzzer); use the fuzz preset")
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
tarvel_library(tarvel_platform_sim platform/sim tarvel_platform PkgConfig::GCRYPT)

# Every target links the shared set-up; tests/fuzz/run.sh runs each one, after replaying its
# seeds and the inputs kept from earlier findings.
file(GLOB fuzz_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*Fuzz.cpp)
foreach(src ${fuzz_srcs})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/fuzz/FuzzSupport.cpp)
  target_link_libraries(${name} PRIVATE tarvel_policy tarvel_service tarvel_platform_sim)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
