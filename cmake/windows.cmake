# MinGW-w64 configuration: one real executable and its tests, of the edition that
# belongs to the target: 32-bit builds the full edition, 64-bit the reduced one.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VOLUMES_FULL 1)
else()
  set(VOLUMES_FULL 0)
endif()
enable_language(RC)

volumes_core(volumes_core ${VOLUMES_FULL})

set(VOLUMES_SYSTEM_LIBS
    comctl32 comdlg32 gdi32 user32 kernel32 advapi32 shell32 ole32 oleaut32 uuid version dbghelp
    psapi)

volumes_windows_sources(PLATFORM_WIN platform)
volumes_library(volumes_win32 ${PLATFORM_WIN})
target_link_libraries(volumes_win32 PUBLIC volumes_core ${VOLUMES_SYSTEM_LIBS})

# The windows: everything of ui/ and crash/ that needs a window.
volumes_windows_sources(UI_WIN ui)
volumes_windows_sources(CRASH_WIN crash)
volumes_library(volumes_windows ${UI_WIN} ${CRASH_WIN})
target_link_libraries(volumes_windows PUBLIC volumes_core volumes_win32 ${VOLUMES_SYSTEM_LIBS})

# The program itself, once app/ has its entry.
file(GLOB APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
file(GLOB APP_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.rc)
if(APP_SOURCES)
  add_executable(volumes WIN32 ${APP_SOURCES} ${APP_RESOURCES})
  target_link_libraries(volumes PRIVATE volumes_windows volumes_win32)
  target_compile_options(volumes PRIVATE ${VOLUMES_WARNINGS})
  target_link_options(volumes PRIVATE -municode)
  # The resource script names its manifest and icon relative to its own folder.
  target_include_directories(volumes PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/app>)
endif()

if(VOLUMES_TESTS AND UNIT_TEST_SOURCES)
  add_executable(unit_tests ${UNIT_TEST_SOURCES})
  target_link_libraries(unit_tests PRIVATE volumes_core volumes_sim gtest_main)
  target_compile_options(unit_tests PRIVATE ${VOLUMES_WARNINGS})
  volumes_gtest(unit unit_tests)
endif()

file(GLOB WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
if(VOLUMES_TESTS AND WIN32_TEST_SOURCES)
  add_executable(win32_tests ${WIN32_TEST_SOURCES})
  target_link_libraries(win32_tests PRIVATE volumes_win32 gtest_main)
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
  target_link_libraries(ui_tests PRIVATE volumes_windows volumes_sim gtest_main)
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
# Wine mirrors its clipboard into the X display's selection, which both suites write
# and read back: they must not run at the same time.
foreach(suite win32 ui)
  if(TEST ${suite})
    set_tests_properties(${suite} PROPERTIES RESOURCE_LOCK clipboard)
  endif()
endforeach()
