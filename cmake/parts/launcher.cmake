# The launcher executable (Windows only; the native build runs its logic in tests).
if(WIN32)
  enable_language(RC)
  add_executable(TarnwickLauncher WIN32
    ${CMAKE_SOURCE_DIR}/app/win32/main_win32.cpp
    ${CMAKE_SOURCE_DIR}/app/win32/launcher.rc)
  target_link_libraries(TarnwickLauncher PRIVATE tarnwick)
  # wWinMain as the entry point.
  target_link_options(TarnwickLauncher PRIVATE -municode)
  # The resource script names its icon and manifest relative to its folder.
  target_include_directories(TarnwickLauncher PRIVATE ${CMAKE_SOURCE_DIR}/app/win32)
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/app/win32/launcher.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/app/win32/launcher.ico ${CMAKE_SOURCE_DIR}/app/win32/launcher.manifest
    ${CMAKE_BINARY_DIR}/generated/tarnwick_version.h)
  if(TARNWICK_TEST_HOOKS)
    target_compile_definitions(TarnwickLauncher PRIVATE TARNWICK_TEST_HOOKS)
  endif()
  set_target_properties(TarnwickLauncher PROPERTIES OUTPUT_NAME TarnwickLauncher)
  # Every exe the release ships.
  add_test(NAME imports COMMAND ${CMAKE_SOURCE_DIR}/tests/check_imports.sh $<TARGET_FILE:TarnwickLauncher>
           $<TARGET_FILE:tarnwick-config>)
endif()
