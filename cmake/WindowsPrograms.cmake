# Windows programs: the controller tool over the real Win32 layer.
# CLI11 is header-only; the MinGW compilers see a directory that holds its headers alone, never
# the host's /usr/include.
set(cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
if(NOT EXISTS ${cli11_dir}/CLI)
  file(MAKE_DIRECTORY ${cli11_dir})
  file(CREATE_LINK /usr/include/CLI ${cli11_dir}/CLI SYMBOLIC)
endif()

file(GLOB tarvelctl_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tarvelctl/*.cpp)
list(FILTER tarvelctl_srcs EXCLUDE REGEX "/(main|Host[A-Za-z0-9]*)\\.cpp$")
# The Service Control Manager and debug-output monitor of the Windows build.
file(GLOB tarvelctl_win32_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/tarvelctl/win32/*.cpp)
add_library(tarvelctl_core STATIC ${tarvelctl_srcs} ${tarvelctl_win32_srcs}
                                  ${CMAKE_SOURCE_DIR}/tools/tarvelctl/HostWin32.cpp)
target_include_directories(tarvelctl_core SYSTEM PUBLIC ${cli11_dir})
target_link_libraries(tarvelctl_core PUBLIC tarvel_policy tarvel_platform_win32)
add_executable(tarvelctl ${CMAKE_SOURCE_DIR}/tools/tarvelctl/main.cpp)
target_link_libraries(tarvelctl PRIVATE tarvelctl_core)
# wmain: the arguments arrive as UTF-16.
target_link_options(tarvelctl PRIVATE -municode)

# The cipher cross-check loads a file that the Linux build of the tool wrote.
if(TARGET PolicyCryptoCheck)
  target_link_libraries(PolicyCryptoCheck PRIVATE tarvelctl_core)
  target_compile_definitions(PolicyCryptoCheck
                             PRIVATE TARVEL_WINE_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/wine/data")
endif()
