# Packaging of the Windows build: a version resource in both programs and the MSI package, built
# with wixl from packaging/tarvel.wxs, with their checks. project(VERSION) is the only source of
# the version: it reaches tarvelctl --version (TarvelVersion.h), the version resources and the
# package's ProductVersion from here.
if(NOT PROJECT_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$"
   OR CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
  # Windows Installer compares only major.minor.build, with these limits.
  message(FATAL_ERROR "project(VERSION ${PROJECT_VERSION}): give MAJOR.MINOR.PATCH, major and "
                      "minor below 256, patch below 65536")
endif()

enable_language(RC)
# tarvel_version_resource(TARGET FILE_NAME DESCRIPTION): a VERSIONINFO resource for the program.
function(tarvel_version_resource target file_name description)
  set(TARVEL_RC_NAME ${target})
  set(TARVEL_RC_FILENAME ${file_name})
  set(TARVEL_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
tarvel_version_resource(tarvel-service tarvel-service.exe "Tarvel Service")
tarvel_version_resource(tarvelctl tarvelctl.exe "Tarvel Service control tool")

find_program(TARVEL_WIXL wixl)
if(NOT TARVEL_WIXL)
  message(STATUS "wixl not found: no MSI package (apt-get install wixl msitools)")
  return()
endif()

# The i686 build makes the shipped package; the x86_64 build a test package of its own (other
# codes, Program Files 64) whose programs run here under wine64.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(msi_arch x64)
  set(TARVEL_MSI ${CMAKE_BINARY_DIR}/tarvel-${PROJECT_VERSION}-x64-test.msi)
else()
  set(msi_arch x86)
  set(TARVEL_MSI ${CMAKE_BINARY_DIR}/tarvel-${PROJECT_VERSION}.msi)
endif()
set(wxs ${CMAKE_SOURCE_DIR}/packaging/tarvel.wxs)
# Both programs are linked into the build folder. wixl takes only relative Source paths (an
# absolute one is not found), so it runs there with BinDir ".".
add_custom_command(
  OUTPUT ${TARVEL_MSI}
  COMMAND ${TARVEL_WIXL} -a ${msi_arch} -D Arch=${msi_arch} -D Version=${PROJECT_VERSION}
          -D BinDir=. -o ${TARVEL_MSI} ${wxs}
  WORKING_DIRECTORY $<TARGET_FILE_DIR:tarvel-service>
  DEPENDS ${wxs} $<TARGET_FILE:tarvel-service> $<TARGET_FILE:tarvelctl>
  COMMENT "Building the installer package ${TARVEL_MSI}"
  VERBATIM)
add_custom_target(msi ALL DEPENDS ${TARVEL_MSI})

if(msi_arch STREQUAL x86)
  # What scripts/release.sh copies into dist/.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/release-artefacts.txt
       CONTENT "$<TARGET_FILE:tarvel-service>\n$<TARGET_FILE:tarvelctl>\n${TARVEL_MSI}\n")
endif()

add_test(NAME msi.tables
         COMMAND ${CMAKE_SOURCE_DIR}/tests/msi/msi-tables.sh ${TARVEL_MSI} ${msi_arch}
                 ${PROJECT_VERSION} $<TARGET_FILE_DIR:tarvel-service>)
set_tests_properties(msi.tables PROPERTIES TIMEOUT 60)
# Wine's msiexec installs either package here: the shipped one with its i686 programs under
# WOW64, the x64 test package with the x86_64 ones.
add_test(NAME msi.wine-install
         COMMAND ${CMAKE_SOURCE_DIR}/tests/msi/msi-wine-install.sh ${TARVEL_MSI}
                 ${PROJECT_VERSION} ${wxs} $<TARGET_FILE_DIR:tarvel-service> ${TARVEL_WIXL})
math(EXPR limit "240 * ${TARVEL_WINE_TIME_SCALE}")
set_tests_properties(msi.wine-install PROPERTIES TIMEOUT ${limit} RESOURCE_LOCK wine
                                                 SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})
if(msi_arch STREQUAL x86)
  # The emulator's proof: the shipped package installed, read with the x86_64 tarvelctl.
  add_test(NAME msi.wow64-proof
           COMMAND ${CMAKE_SOURCE_DIR}/tests/msi/msi-wine-install.sh ${TARVEL_MSI}
                   ${PROJECT_VERSION} ${wxs} $<TARGET_FILE_DIR:tarvel-service> ${TARVEL_WIXL}
                   --proof ${TARVEL_E2E_PEER_BUILD})
  set_tests_properties(msi.wow64-proof PROPERTIES TIMEOUT 1800 RESOURCE_LOCK wine
                       LABELS wow64-proof SKIP_RETURN_CODE ${TARVEL_WINE_SKIP})
endif()
