# The X11 backend's share of a refresh cycle on a private Xvfb with openbox, two monitors and 50
# windows; with the engine and the overlays built, real refresh cycles with real overlays.
if(TARGET sombrix_x11 AND TARGET sombrix_xsession)
    add_executable(bench_x11_cycle ${CMAKE_CURRENT_LIST_DIR}/x11_cycle.cpp)
    target_link_libraries(bench_x11_cycle PRIVATE sombrix_x11 sombrix_xsession)
    if(TARGET sombrix_engine AND TARGET sombrix_overlay AND TARGET sombrix_qt)
        target_link_libraries(bench_x11_cycle PRIVATE
            sombrix_engine sombrix_overlay sombrix_qt Qt6::Widgets)
        target_compile_definitions(bench_x11_cycle PRIVATE SOMBRIX_BENCH_WITH_ENGINE)
    endif()
endif()
# The engine composed as in the application, in the benchmark's own process: what a focus change
# costs, and the longest the main loop was busy meanwhile.
if(TARGET sombrix_x11 AND TARGET sombrix_xsession AND TARGET sombrix_engine AND
   TARGET sombrix_overlay AND TARGET sombrix_qt)
    foreach(bench switch_cost hostile)
        add_executable(bench_${bench} ${CMAKE_CURRENT_LIST_DIR}/${bench}_bench.cpp)
        target_link_libraries(bench_${bench} PRIVATE
            sombrix_x11 sombrix_xsession sombrix_engine sombrix_overlay sombrix_qt Qt6::Widgets)
    endforeach()
endif()
if(TARGET bench_hostile AND TARGET sombrix_process_support)
    target_link_libraries(bench_hostile PRIVATE sombrix_process_support)
endif()
