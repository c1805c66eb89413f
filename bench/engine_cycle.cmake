# One refresh cycle of the engine against the in-memory platform, steady state.
if(NOT TARGET sombrix_fakes)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/support/fakes ${CMAKE_CURRENT_BINARY_DIR}/fakes)
endif()
add_executable(bench_engine_cycle ${CMAKE_CURRENT_LIST_DIR}/engine_cycle.cpp)
target_link_libraries(bench_engine_cycle PRIVATE sombrix_engine sombrix_fakes benchmark::benchmark)
