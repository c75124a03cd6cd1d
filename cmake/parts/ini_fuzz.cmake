# libFuzzer target for the INI engine (clang, native build, -DTARNWICK_FUZZ=ON).
if(TARNWICK_FUZZ AND NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(ini_read_fuzz ${CMAKE_SOURCE_DIR}/tests/fuzz/ini_read_fuzz.cpp)
  target_link_libraries(ini_read_fuzz PRIVATE tarnwick)
  target_compile_options(ini_read_fuzz PRIVATE -fsanitize=fuzzer,address)
  target_link_options(ini_read_fuzz PRIVATE -fsanitize=fuzzer,address)
endif()
