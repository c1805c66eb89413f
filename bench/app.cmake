# The built sombrix on a private Xvfb with openbox: how fast an overlay follows focus, and what
# the program costs while nothing happens.
if(TARGET sombrix)
    add_executable(bench_focus_latency ${CMAKE_CURRENT_LIST_DIR}/focus_latency_bench.cpp)
    target_link_libraries(bench_focus_latency PRIVATE sombrix_xsession)
    target_compile_definitions(bench_focus_latency PRIVATE
        SOMBRIX_BINARY="$<TARGET_FILE:sombrix>")
    add_dependencies(bench_focus_latency sombrix)

    add_executable(bench_focus_to_pixel ${CMAKE_CURRENT_LIST_DIR}/focus_to_pixel_bench.cpp)
    target_link_libraries(bench_focus_to_pixel PRIVATE sombrix_xsession)
    target_compile_definitions(bench_focus_to_pixel PRIVATE
        SOMBRIX_BINARY="$<TARGET_FILE:sombrix>")
    add_dependencies(bench_focus_to_pixel sombrix)

    add_executable(bench_idle ${CMAKE_CURRENT_LIST_DIR}/idle_bench.cpp)
    target_link_libraries(bench_idle PRIVATE sombrix_xsession)
    target_compile_definitions(bench_idle PRIVATE SOMBRIX_BINARY="$<TARGET_FILE:sombrix>")
    add_dependencies(bench_idle sombrix)
endif()
