# The simulator: the service's real code from the entry routine on, on the simulated machine.
file(GLOB sim_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/programs/tarvel-sim/*.cpp)
list(FILTER sim_srcs EXCLUDE REGEX "/main.cpp$")
add_library(tarvel_simulator STATIC ${sim_srcs})
target_link_libraries(tarvel_simulator PUBLIC tarvel_service tarvel_platform_sim)
if(EXISTS ${CMAKE_SOURCE_DIR}/programs/tarvel-sim/main.cpp)
  add_executable(tarvel-sim ${CMAKE_SOURCE_DIR}/programs/tarvel-sim/main.cpp)
  target_link_libraries(tarvel-sim PRIVATE tarvel_simulator)
endif()
