# The program's name and version, each written once for the whole build. The window
# title shows the version as major.minor; the resources' version and the manifest's
# four-part version are made from it. Included before project() by the program's build
# and by the Wine benchmarks'.
set(VOLUMES_NAME volumes)
set(VOLUMES_VERSION 0.3)

# Makes platform/identity.h (the name and the version in the forms the code and the
# resource scripts use; the resource compiler joins no strings) and the application
# manifest in the build folder, and gives target and whatever links it that folder
# as an include path, resource scripts included.
function(volumes_identity target)
  set(folder ${CMAKE_BINARY_DIR}/identity)
  string(REPLACE "." "," numbers "${VOLUMES_VERSION}.0.0")
  file(CONFIGURE OUTPUT ${folder}/platform/identity.h @ONLY CONTENT [[
// Made by the build from cmake/identity.cmake.
#pragma once
#define VOLUMES_NAME "@VOLUMES_NAME@"
#define VOLUMES_VERSION "@VOLUMES_VERSION@"
#define VOLUMES_FILE_VERSION "@VOLUMES_VERSION@.0"
#define VOLUMES_VERSION_NUMBERS @numbers@
]])
  set(VOLUMES_MANIFEST_VERSION ${VOLUMES_VERSION}.0.0)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../app/volumes.manifest.in
                 ${folder}/volumes.manifest @ONLY)
  target_include_directories(${target} PUBLIC ${folder})
endfunction()
