# The floors the X11 figures are compared with: one round trip, one restack and sync, the window
# list asked one reply at a time, and an idle Qt program with one 0.25-s timer, on a private Xvfb
# with openbox.
if(TARGET sombrix_xsession)
    add_executable(qt_tick_floor ${CMAKE_CURRENT_LIST_DIR}/qt_tick_floor.cpp)
    target_link_libraries(qt_tick_floor PRIVATE Qt6::Widgets)

    add_executable(bench_floors ${CMAKE_CURRENT_LIST_DIR}/floors.cpp)
    target_link_libraries(bench_floors PRIVATE sombrix_xsession)
    target_compile_definitions(bench_floors PRIVATE QT_TICK_BINARY="$<TARGET_FILE:qt_tick_floor>")
    add_dependencies(bench_floors qt_tick_floor)
endif()
