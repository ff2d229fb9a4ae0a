# Windows programs: the service executable.
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

# Started directly under Wine (only the x86_64 build runs here).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_test(NAME wine.ServiceStartedDirectly
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/service-started-directly.sh
                   $<TARGET_FILE:tarvel-service>)
  set_tests_properties(wine.ServiceStartedDirectly PROPERTIES TIMEOUT 180 RESOURCE_LOCK wine)
endif()
