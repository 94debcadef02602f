# MinGW-w64 flags shared by every target of the configuration.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# Static runtime: every executable imports system DLLs only (Wine has no libstdc++-6.dll).
add_link_options(-static -static-libgcc -static-libstdc++)
