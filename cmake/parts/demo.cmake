# The demo operator's game program, served by tools/demo/demo_server.py.
if(WIN32)
  add_executable(TarnwickDemoGame WIN32 ${CMAKE_SOURCE_DIR}/app/win32/demo_game_main.cpp)
  target_link_options(TarnwickDemoGame PRIVATE -municode)
endif()
