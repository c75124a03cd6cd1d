# Loopback servers for the download tests, started and stopped around `unit`
# as a CTest fixture. The native and the Windows build use separate ports so
# that both runs can go at once.
# -DTARNWICK_TEST_PORT_BASE=N moves them, for a second checkout on the same machine.
if(DEFINED TARNWICK_TEST_PORT_BASE)
elseif(WIN32)
  set(TARNWICK_TEST_PORT_BASE 18710)
else()
  set(TARNWICK_TEST_PORT_BASE 18700)
endif()
target_compile_definitions(tarnwick_tests PRIVATE TARNWICK_TEST_PORT_BASE=${TARNWICK_TEST_PORT_BASE})
add_test(NAME download_servers_start
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/start.sh ${CMAKE_BINARY_DIR} ${TARNWICK_TEST_PORT_BASE})
add_test(NAME download_servers_stop COMMAND ${CMAKE_CURRENT_LIST_DIR}/stop.sh ${CMAKE_BINARY_DIR})
set_tests_properties(download_servers_start PROPERTIES FIXTURES_SETUP download_servers)
set_tests_properties(download_servers_stop PROPERTIES FIXTURES_CLEANUP download_servers)
set_tests_properties(unit PROPERTIES FIXTURES_REQUIRED download_servers)
