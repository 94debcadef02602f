# MinGW-w64 configuration: one real executable and its tests, of one edition. By
# default the edition belongs to the target: 32-bit builds the full edition, 64-bit the
# reduced one. VOLUMES_EDITION=full or reduced builds either one for either target: the
# full edition as 64-bit code is what a machine that cannot run 32-bit code tests natively.
set(VOLUMES_EDITION auto CACHE STRING "full, reduced, or auto (full for 32-bit targets, reduced for 64-bit)")
set_property(CACHE VOLUMES_EDITION PROPERTY STRINGS auto full reduced)
if(VOLUMES_EDITION STREQUAL "full" OR (VOLUMES_EDITION STREQUAL "auto" AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  set(VOLUMES_FULL 1)
elseif(VOLUMES_EDITION STREQUAL "reduced" OR VOLUMES_EDITION STREQUAL "auto")
  set(VOLUMES_FULL 0)
else()
  message(FATAL_ERROR "VOLUMES_EDITION is ${VOLUMES_EDITION}; it must be full, reduced or auto")
endif()
enable_language(RC)

# version.dll, dbghelp.dll and mapi32.dll are loaded at run time from the system folder
# (platform/system_library_win.h): imported, they would be searched for beside the
# executable first.
set(VOLUMES_SYSTEM_LIBS
    comctl32 comdlg32 gdi32 user32 kernel32 advapi32 shell32 ole32 oleaut32 uuid psapi)
volumes_layers("" ${VOLUMES_FULL})
option(VOLUMES_STARTUP_TRACE "Write the start-up's marks for the start-up benchmark" OFF)
if(VOLUMES_STARTUP_TRACE)
  target_compile_definitions(volumes_platform PUBLIC VOLUMES_STARTUP_TRACE)
endif()

# The program itself: app/, the top floor.
file(GLOB APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
file(GLOB APP_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.rc)
add_executable(volumes WIN32 ${APP_SOURCES} ${APP_RESOURCES})
target_link_libraries(volumes PRIVATE volumes_ui)
target_compile_options(volumes PRIVATE ${VOLUMES_WARNINGS})
target_link_options(volumes PRIVATE -municode)
# The resource script names its icon relative to its own folder; the manifest and the
# identity header come from the build folder (cmake/identity.cmake).
target_include_directories(volumes PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/app>)

if(VOLUMES_TESTS)
  # What the program tests start beside volumes.exe, never shipped: the program with a
  # start-up that fails on request, a marker-writing DLL to plant under system DLLs'
  # names, and a program that loads a DLL by its bare name.
  add_executable(volumes_startup_error WIN32 ${APP_SOURCES} ${APP_RESOURCES}
                 ${CMAKE_SOURCE_DIR}/tests/support/startup_error_hook_win.cpp)
  target_compile_definitions(volumes_startup_error PRIVATE VOLUMES_STARTUP_ERROR_HOOK)
  target_link_libraries(volumes_startup_error PRIVATE volumes_ui)
  target_compile_options(volumes_startup_error PRIVATE ${VOLUMES_WARNINGS})
  target_link_options(volumes_startup_error PRIVATE -municode)
  target_include_directories(volumes_startup_error
                             PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/app>)
  add_library(planted_marker SHARED ${CMAKE_SOURCE_DIR}/tests/support/planted_marker_win.cpp)
  set_target_properties(planted_marker PROPERTIES PREFIX "")
  add_executable(load_by_name ${CMAKE_SOURCE_DIR}/tests/support/load_by_name_win.cpp)
endif()

if(VOLUMES_TESTS AND UNIT_TEST_SOURCES)
  if(NOT VOLUMES_FULL)
    list(REMOVE_ITEM UNIT_TEST_SOURCES ${FULL_ONLY_TEST_SOURCES})
  endif()
  add_executable(unit_tests ${UNIT_TEST_SOURCES})
  target_link_libraries(unit_tests PRIVATE volumes_ui volumes_sim gtest_main)
  target_compile_options(unit_tests PRIVATE ${VOLUMES_WARNINGS})
  volumes_gtest(unit unit_tests)
endif()

file(GLOB WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
list(APPEND WIN32_TEST_SOURCES ${CONTRACT_SOURCES})
if(VOLUMES_TESTS AND WIN32_TEST_SOURCES)
  add_executable(win32_tests ${WIN32_TEST_SOURCES})
  # The tests read the program's version resource through version.dll; the program
  # does not import it.
  target_link_libraries(win32_tests PRIVATE volumes_ui volumes_sim gtest_main version)
  target_compile_options(win32_tests PRIVATE ${VOLUMES_WARNINGS})
  volumes_gtest(win32 win32_tests)
endif()

# The UI tests drive the real windows; they share the program's manifest (common
# controls 6) and may bring resources of their own.
file(GLOB UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/ui/*.cpp)
file(GLOB UI_TEST_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/ui/*.rc)
if(VOLUMES_TESTS AND UI_TEST_SOURCES)
  if(NOT UI_TEST_RESOURCES)
    set(UI_TEST_RESOURCES ${APP_RESOURCES})
  endif()
  add_executable(ui_tests ${UI_TEST_SOURCES} ${UI_TEST_RESOURCES})
  foreach(resource ${UI_TEST_RESOURCES})
    get_filename_component(resource_dir ${resource} DIRECTORY)
    target_include_directories(ui_tests PRIVATE $<$<COMPILE_LANGUAGE:RC>:${resource_dir}>)
  endforeach()
  target_link_libraries(ui_tests PRIVATE volumes_ui volumes_sim gtest_main)
  target_compile_options(ui_tests PRIVATE ${VOLUMES_WARNINGS})
  volumes_gtest(ui ui_tests)
endif()

# Tests run under Wine (the toolchain's CMAKE_CROSSCOMPILING_EMULATOR), quietly, in a
# prefix and home of the build's own; scripts/test.sh creates the prefix beforehand so
# that parallel tests do not race to create it. DISPLAY passes through for the UI tests.
set(VOLUMES_WINE_ENV
    WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix HOME=${CMAKE_BINARY_DIR}/winehome WINEDEBUG=-all
    WINEARCH=win64 WINEDLLOVERRIDES=mscoree,mshtml=)
get_property(all_tests DIRECTORY PROPERTY TESTS)
if(all_tests)
  set_tests_properties(${all_tests} PROPERTIES ENVIRONMENT "${VOLUMES_WINE_ENV}")
endif()
# The 32-bit volumes.exe read from this 64-bit build of the full edition: its list and
# broadcasts (WineProgram) and its resources, across the bitnesses. Where 32-bit code is
# emulated, this is the one way to read that program: another process's memory in an
# emulated program is only readable from a native 64-bit one.
set(VOLUMES_PROGRAM32 "" CACHE FILEPATH "The 32-bit volumes.exe for the test program32 (64-bit full edition only)")
if(VOLUMES_PROGRAM32 AND TARGET win32_tests AND VOLUMES_FULL AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  string(REPLACE "/" "\\" program32 "Z:${VOLUMES_PROGRAM32}")
  add_test(NAME program32
           COMMAND win32_tests --gtest_filter=WineProgram.*:WineResources.*
                   --gtest_output=xml:results/program32.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(program32 PROPERTIES TIMEOUT 600
                       ENVIRONMENT "${VOLUMES_WINE_ENV};VOLUMES_PROGRAM=${program32}")
endif()

# Wine mirrors its clipboard into the X display's selection, which both suites write
# and read back, and the program tests broadcast to every window of the prefix: none of
# them may run at the same time as another.
foreach(suite win32 ui program32)
  if(TEST ${suite})
    set_tests_properties(${suite} PROPERTIES RESOURCE_LOCK clipboard)
  endif()
endforeach()
