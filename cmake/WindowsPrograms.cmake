# Windows programs: the controller tool and the service executable, over the real Win32 layer.
# CLI11 is header-only; the MinGW compilers see a directory that holds its headers alone, never
# the host's /usr/include.
set(cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
if(NOT EXISTS ${cli11_dir}/CLI)
  file(MAKE_DIRECTORY ${cli11_dir})
  file(CREATE_LINK /usr/include/CLI ${cli11_dir}/CLI SYMBOLIC)
endif()

include(cmake/Tarvelctl.cmake)
target_include_directories(tarvelctl_core SYSTEM PUBLIC ${cli11_dir})
# wmain: the arguments arrive as UTF-16.
target_link_options(tarvelctl PRIVATE -municode)

# The cipher cross-check loads a file that the Linux build of the tool wrote.
if(TARGET PolicyCryptoCheck)
  target_link_libraries(PolicyCryptoCheck PRIVATE tarvelctl_core)
  target_compile_definitions(PolicyCryptoCheck
                             PRIVATE TARVEL_WINE_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/wine/data")
endif()

# The service executable.
add_executable(tarvel-service WIN32 ${CMAKE_SOURCE_DIR}/programs/tarvel-service/main.cpp)
target_link_libraries(tarvel-service PRIVATE tarvel_service tarvel_platform_win32)
# wWinMain: the GUI subsystem's wide entry point.
target_link_options(tarvel-service PRIVATE -municode)

# The service imports nothing beyond Windows' own DLLs: checked after every link and as a test.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(TARVEL_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
else()
  find_program(TARVEL_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
endif()
set(import_check ${CMAKE_SOURCE_DIR}/scripts/check-imports.sh)
add_custom_command(TARGET tarvel-service POST_BUILD
                   COMMAND ${import_check} ${TARVEL_OBJDUMP} $<TARGET_FILE:tarvel-service>)
add_test(NAME imports.tarvel-service
         COMMAND ${import_check} ${TARVEL_OBJDUMP} $<TARGET_FILE:tarvel-service>)

# Started directly under Wine: the i686 build under WOW64, the x86_64 build natively.
add_test(NAME wine.ServiceStartedDirectly
         COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/service-started-directly.sh
                 $<TARGET_FILE:tarvel-service>)
math(EXPR limit "180 * ${TARVEL_WINE_TIME_SCALE}")
set_tests_properties(wine.ServiceStartedDirectly PROPERTIES TIMEOUT ${limit} RESOURCE_LOCK wine
                                                            SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})

include(cmake/EndToEnd.cmake)
