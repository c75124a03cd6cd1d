# The embedded default configuration, enciphered at build time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_cfg_out ${CMAKE_BINARY_DIR}/generated/default_config_dat.inc)
add_custom_command(
  OUTPUT ${_cfg_out}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/encode_config.py
          ${CMAKE_SOURCE_DIR}/config/default_config.txt ${_cfg_out}
  DEPENDS ${CMAKE_SOURCE_DIR}/config/default_config.txt ${CMAKE_SOURCE_DIR}/tools/encode_config.py
  COMMENT "Enciphering the default configuration")
add_custom_target(default_config_dat DEPENDS ${_cfg_out})
add_dependencies(tarnwick_config default_config_dat)

# The operator's configuration tool.
add_executable(tarnwick-config ${CMAKE_SOURCE_DIR}/tools/tarnwick-config/main.cpp
  ${CMAKE_SOURCE_DIR}/tools/tarnwick-config/probe.cpp)
target_include_directories(tarnwick-config PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(tarnwick-config PRIVATE tarnwick)

# Both builds: the Windows tool runs under Wine, its probe over WinHTTP.
set(_cli_runner "")
if(WIN32)
  set(_cli_runner "${CMAKE_SOURCE_DIR}/tests/wine/run.sh ${CMAKE_BINARY_DIR}")
endif()
# The same port rule as tests/servers/servers.cmake, which is read later.
if(DEFINED TARNWICK_TEST_PORT_BASE)
  set(_cli_ports ${TARNWICK_TEST_PORT_BASE})
elseif(WIN32)
  set(_cli_ports 18710)
else()
  set(_cli_ports 18700)
endif()
set(_cli_planted "")
if(WIN32)
  # DLLs the test plants beside the tool under the names it delay-loads.
  foreach(_dll bcrypt winhttp)
    add_library(planted_${_dll} SHARED ${CMAKE_SOURCE_DIR}/tests/wine/planted_dll.c)
    set_target_properties(planted_${_dll} PROPERTIES PREFIX "" OUTPUT_NAME ${_dll}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  endforeach()
  set(_cli_planted ${CMAKE_BINARY_DIR}/planted)
endif()
add_test(NAME tarnwick_config_cli COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/tarnwick_config_cli.sh
         $<TARGET_FILE:tarnwick-config> "${_cli_runner}" ${_cli_ports} ${_cli_planted})
if(WIN32)
  # The persistent Wine server of tests/CMakeLists.txt.
  set_tests_properties(tarnwick_config_cli PROPERTIES FIXTURES_REQUIRED "download_servers;wine_server")
else()
  set_tests_properties(tarnwick_config_cli PROPERTIES FIXTURES_REQUIRED download_servers)
endif()
