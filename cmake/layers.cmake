# The program's floors, and what each folder may include besides its own headers.
# Includes point down only: platform (the seam) is the ground floor, devices stands on
# it, crash beside devices, ui (its window-free logic and its windows) on those, app on
# top. Each folder is a library of its own that links only downward, and each library
# sees only the headers of its own folder and of the folders it links, so an include
# that points up or across does not compile. volumes_check_layers says the same in
# words, before anything is built:
#   cmake -DVOLUMES_ROOT=<source folder> -P cmake/layers.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(VOLUMES_LAYERS platform devices crash ui app)
set(VOLUMES_BELOW_platform "")
set(VOLUMES_BELOW_devices platform)
set(VOLUMES_BELOW_crash platform)
set(VOLUMES_BELOW_ui devices crash platform)
set(VOLUMES_BELOW_app ui crash devices platform)
# The one header through which the other folders reach the crash reporter.
set(VOLUMES_FRONT_crash guard_win.h)
# Folders of Windows code only, whatever their files' names.
set(VOLUMES_WINDOWS_ONLY app)

# Fails the configuration, naming every include that breaks a rule:
# - a folder includes only itself and the folders below it;
# - a folder with a front (VOLUMES_FRONT_<folder>) is reached only through it;
# - window-free code (a file whose name does not end in _win, outside the folders of
#   VOLUMES_WINDOWS_ONLY) includes no *_win.h.
function(volumes_check_layers root)
  set(problems "")
  set(seen "")
  foreach(layer ${VOLUMES_LAYERS})
    foreach(below ${VOLUMES_BELOW_${layer}})
      if(NOT below IN_LIST seen)
        string(APPEND problems "\n  ${layer} stands on ${below}, which is not below it")
      endif()
    endforeach()
    list(APPEND seen ${layer})
    file(GLOB_RECURSE files ${root}/${layer}/*.h ${root}/${layer}/*.cpp)
    foreach(file ${files})
      file(RELATIVE_PATH name ${root}/${layer} ${file})
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${includes})
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
        string(REGEX REPLACE "/.*$" "" folder "${included}")
        get_filename_component(header ${included} NAME)
        set(where "${layer}/${name} includes \"${included}\"")
        if(NOT included MATCHES "/")
          string(APPEND problems "\n  ${where}: name the folder")
        elseif(NOT folder STREQUAL layer AND NOT folder IN_LIST VOLUMES_BELOW_${layer})
          string(APPEND problems
                 "\n  ${where}: ${layer} may include only ${VOLUMES_BELOW_${layer}}")
        elseif(NOT folder STREQUAL layer AND DEFINED VOLUMES_FRONT_${folder}
               AND NOT header IN_LIST VOLUMES_FRONT_${folder})
          string(APPEND problems "\n  ${where}: ${folder} is reached through ${VOLUMES_FRONT_${folder}}")
        elseif(NOT name MATCHES "_win\\." AND NOT layer IN_LIST VOLUMES_WINDOWS_ONLY
               AND header MATCHES "_win\\.h$")
          string(APPEND problems "\n  ${where}: window-free code includes no Windows header")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Includes that break the layers:${problems}")
  endif()
endfunction()

# One folder's library, seeing only its own folder and those below it (each linked
# library brings its folder): a link view of the folder is its include root.
#   volumes_layer(TARGET FOLDER SOURCES... [LINKS targets...])
function(volumes_layer target folder)
  cmake_parse_arguments(arg "" "" "LINKS" ${ARGN})
  set(view ${CMAKE_BINARY_DIR}/layers/${target})
  if(NOT EXISTS ${view}/${folder})
    file(MAKE_DIRECTORY ${view})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
  endif()
  add_library(${target} STATIC ${arg_UNPARSED_ARGUMENTS})
  target_include_directories(${target} PUBLIC ${view})
  target_compile_options(${target} PRIVATE ${VOLUMES_WARNINGS})
  target_link_libraries(${target} PUBLIC ${arg_LINKS})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  volumes_check_layers(${VOLUMES_ROOT})
endif()
