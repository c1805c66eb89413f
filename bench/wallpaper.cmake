# Wallpaper capture cost on a private Xvfb: the capture itself and how long the main thread is
# held while captures run and land.
add_executable(bench_wallpaper_capture ${CMAKE_CURRENT_LIST_DIR}/wallpaper_capture_bench.cpp)
target_link_libraries(bench_wallpaper_capture PRIVATE sombrix_overlay sombrix_xsession)
