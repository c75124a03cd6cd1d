# A window preview for the skinned user interface: opens the three windows
# with sample content and logs the events it receives (used by the Wine test).
if(WIN32)
  add_executable(ui_preview WIN32 ${CMAKE_SOURCE_DIR}/tools/ui_preview/main.cpp)
  target_link_libraries(ui_preview PRIVATE tarnwick)
endif()
