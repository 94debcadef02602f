# MinGW-w64 flags shared by every target of the configuration.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00)
# Static runtime: every executable imports system DLLs only (Wine has no libstdc++-6.dll).
add_link_options(-static -static-libgcc -static-libstdc++)
# DYNAMIC_BASE (with relocations), NX_COMPAT and, for 64-bit, HIGH_ENTROPY_VA are
# binutils' defaults; TERMINAL_SERVER_AWARE is not. scripts/test.sh checks all of them.
add_link_options(-Wl,--tsaware)
# Frame pointers in every function: Microsoft's dbghelp cannot read GCC's unwind data
# and follows EBP on 32-bit code, and so does the bug report's own walk where dbghelp
# is unusable.
add_compile_options(-fno-omit-frame-pointer)
