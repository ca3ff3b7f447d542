# The bare Qt window that bench/desktop-compare.sh measures as the floor of the player's memory.
if(TARGET ml_library_ui)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(qt_floor_window ${CMAKE_CURRENT_LIST_DIR}/qt-floor-window.cpp)
  target_link_libraries(qt_floor_window PRIVATE Qt6::Widgets)
endif()
