# Windows build (MinGW-w64): the real Win32 layer, the service exe, the tools and the Wine checks.
tarvel_library(tarvel_platform_win32 platform/win32 tarvel_platform)
target_link_libraries(tarvel_platform_win32 PUBLIC advapi32 user32 gdi32 shell32 shlwapi setupapi
                                                   cfgmgr32)
# A static runtime for every program over it: the exes import nothing but Windows' own DLLs
# (Wine refuses the MinGW ones).
target_link_options(tarvel_platform_win32 INTERFACE -static -static-libgcc -static-libstdc++)

enable_testing()
file(GLOB wine_checks CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*Check.cpp)
list(FILTER wine_checks EXCLUDE REGEX "/WineCheck.cpp$")
foreach(src ${wine_checks})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/wine/WineCheck.cpp)
  target_link_libraries(${name} PRIVATE tarvel_service tarvel_platform_win32)
  add_test(NAME wine.${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-in-prefix.sh $<TARGET_FILE:${name}>)
  set_tests_properties(wine.${name} PROPERTIES TIMEOUT 180 RESOURCE_LOCK wine)
endforeach()

include(cmake/WindowsPrograms.cmake)
