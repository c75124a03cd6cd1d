# The launcher executable (Windows only; the native build runs its logic in tests).
if(WIN32)
  enable_language(RC)
  add_executable(TarnwickLauncher WIN32
    ${CMAKE_SOURCE_DIR}/platform/win32/entry/main_win32.cpp)
  target_link_libraries(TarnwickLauncher PRIVATE tarnwick)
  # wWinMain as the entry point.
  target_link_options(TarnwickLauncher PRIVATE -municode)
  set_target_properties(TarnwickLauncher PROPERTIES OUTPUT_NAME TarnwickLauncher)
endif()
