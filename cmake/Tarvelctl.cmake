# The controller tool: its logic as a library (so that the unit tests run its commands) over one
# backend, the simulated machine on Linux or Win32 on Windows, and the program itself.
if(WIN32)
  set(tarvelctl_backend win32)  # the Service Control Manager and the debug-output monitor
  set(tarvelctl_host HostWin32)
  set(tarvelctl_platform tarvel_platform_win32)
else()
  set(tarvelctl_backend sim)  # the file-security calls over the simulated machine
  set(tarvelctl_host HostSim)
  set(tarvelctl_platform tarvel_platform_sim)
endif()
file(GLOB tarvelctl_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tarvelctl/*.cpp)
list(FILTER tarvelctl_srcs EXCLUDE REGEX "/(main|Host[A-Za-z0-9]*)\\.cpp$")
file(GLOB tarvelctl_backend_srcs CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tools/tarvelctl/${tarvelctl_backend}/*.cpp)
add_library(tarvelctl_core STATIC ${tarvelctl_srcs} ${tarvelctl_backend_srcs}
                                  ${CMAKE_SOURCE_DIR}/tools/tarvelctl/${tarvelctl_host}.cpp)
target_link_libraries(tarvelctl_core PUBLIC tarvel_policy ${tarvelctl_platform})
add_executable(tarvelctl ${CMAKE_SOURCE_DIR}/tools/tarvelctl/main.cpp)
target_link_libraries(tarvelctl PRIVATE tarvelctl_core)
