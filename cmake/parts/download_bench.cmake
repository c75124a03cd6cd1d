# The download benchmark (not a test) and a test binary with only the
# download tests, for quick runs under the sanitizers.
add_executable(download_bench EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/bench/download_bench.cpp)
target_include_directories(download_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(download_bench PRIVATE tarnwick)

file(GLOB _dl_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/download/*_test.cpp)
foreach(f IN LISTS _dl_tests)
  if((f MATCHES "_win32_test\\.cpp$" AND NOT WIN32) OR (f MATCHES "_posix_test\\.cpp$" AND WIN32))
    list(REMOVE_ITEM _dl_tests ${f})
  endif()
endforeach()
add_executable(download_tests EXCLUDE_FROM_ALL ${_dl_tests}
  ${CMAKE_SOURCE_DIR}/tests/support/download_support.cpp ${CMAKE_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_link_libraries(download_tests PRIVATE tarnwick GTest::gtest GTest::gtest_main)
target_include_directories(download_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
if(WIN32)
  target_compile_definitions(download_tests PRIVATE TARNWICK_TEST_PORT_BASE=18710)
else()
  target_compile_definitions(download_tests PRIVATE TARNWICK_TEST_PORT_BASE=18700)
endif()
