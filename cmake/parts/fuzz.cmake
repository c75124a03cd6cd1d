# libFuzzer targets (clang, native build, -DTARNWICK_FUZZ=ON): the INI engine,
# the configuration decoder, the name and address checks.
if(TARNWICK_FUZZ AND NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  foreach(_fuzz ini_read_fuzz config_decode_fuzz names_fuzz)
    add_executable(${_fuzz} ${CMAKE_SOURCE_DIR}/tests/fuzz/${_fuzz}.cpp)
    target_include_directories(${_fuzz} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${_fuzz} PRIVATE tarnwick)
    target_compile_options(${_fuzz} PRIVATE -fsanitize=fuzzer,address)
    target_link_options(${_fuzz} PRIVATE -fsanitize=fuzzer,address)
  endforeach()
endif()
