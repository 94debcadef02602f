# Host (Linux) flags shared by every target of the configuration.
if(VOLUMES_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VOLUMES_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VOLUMES_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  # Instrument the whole tree for coverage; only the fuzz targets link the fuzzer's main.
  # Optimised as the program ships, so that the fuzzer spends its time on inputs.
  add_compile_options(-O2 -g -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/tests/fuzz/coverage_ignorelist.txt)
  add_link_options(-fsanitize=address,undefined)
endif()
