# The floors the X11 figures are compared with: one round trip, one restack and sync, and the
# window list asked one reply at a time, on a private Xvfb with openbox.
if(TARGET sombrix_xsession)
    add_executable(bench_floors ${CMAKE_CURRENT_LIST_DIR}/floors.cpp)
    target_link_libraries(bench_floors PRIVATE sombrix_xsession)
endif()
