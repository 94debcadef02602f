# MinGW-w64 configuration: one real executable and its tests, of the edition that
# belongs to the target: 32-bit builds the full edition, 64-bit the reduced one.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VOLUMES_FULL 1)
else()
  set(VOLUMES_FULL 0)
endif()
enable_language(RC)

add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# Static runtime: the executables import system DLLs only.
add_link_options(-static -static-libgcc -static-libstdc++)

volumes_core(volumes_core ${VOLUMES_FULL})
target_compile_definitions(volumes_sim PUBLIC UNICODE _UNICODE)

set(VOLUMES_SYSTEM_LIBS comctl32 gdi32 user32 kernel32 shell32 ole32 version dbghelp psapi)

volumes_windows_sources(PLATFORM_WIN platform)
add_library(volumes_win32 STATIC ${PLATFORM_WIN})
target_link_libraries(volumes_win32 PUBLIC volumes_core ${VOLUMES_SYSTEM_LIBS})
target_compile_options(volumes_win32 PRIVATE ${VOLUMES_WARNINGS})

# The windows: everything of ui/ and crash/ that needs a window.
volumes_windows_sources(UI_WIN ui)
volumes_windows_sources(CRASH_WIN crash)
add_library(volumes_windows STATIC ${UI_WIN} ${CRASH_WIN})
target_link_libraries(volumes_windows PUBLIC volumes_core ${VOLUMES_SYSTEM_LIBS})
target_compile_options(volumes_windows PRIVATE ${VOLUMES_WARNINGS})

file(GLOB APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/app/*.rc)
add_executable(volumes WIN32 ${APP_SOURCES})
target_link_libraries(volumes PRIVATE volumes_windows volumes_win32)
target_compile_options(volumes PRIVATE ${VOLUMES_WARNINGS})
target_link_options(volumes PRIVATE -municode)

# Tests run under Wine, in a prefix of the build's own (see scripts/wine-env.sh).
set(VOLUMES_WINE_ENV
    WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix HOME=${CMAKE_BINARY_DIR}/winehome WINEDEBUG=-all)

add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE volumes_core volumes_sim gtest_main)
target_compile_options(unit_tests PRIVATE ${VOLUMES_WARNINGS})
add_test(NAME unit COMMAND unit_tests)

file(GLOB WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
if(WIN32_TEST_SOURCES)
  add_executable(win32_tests ${WIN32_TEST_SOURCES})
  target_link_libraries(win32_tests PRIVATE volumes_win32 gtest_main)
  target_compile_options(win32_tests PRIVATE ${VOLUMES_WARNINGS})
  add_test(NAME win32 COMMAND win32_tests)
endif()

file(GLOB UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/ui/*.cpp)
if(UI_TEST_SOURCES)
  add_executable(ui_tests ${UI_TEST_SOURCES})
  target_link_libraries(ui_tests PRIVATE volumes_windows volumes_sim gtest_main)
  target_compile_options(ui_tests PRIVATE ${VOLUMES_WARNINGS})
  add_test(NAME ui COMMAND ui_tests)
endif()

get_property(all_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${all_tests} PROPERTIES ENVIRONMENT "${VOLUMES_WINE_ENV}")
