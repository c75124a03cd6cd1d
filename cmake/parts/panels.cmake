# The stand-in game the panel tests start under Wine (tests/extra/panels_wine.sh).
if(WIN32)
  add_executable(panels_cwd_recorder WIN32 ${CMAKE_SOURCE_DIR}/tests/wine/cwd_recorder_main.cpp)
  target_link_options(panels_cwd_recorder PRIVATE -municode)
endif()
