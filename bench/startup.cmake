# Start-up of the window: process start to the first paint of the main window, and its memory.
# Run: build/bench/startup_bench --runs 9   (medians of nine start-ups on the offscreen platform)
if(TARGET kv_app)
    add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
    target_link_libraries(startup_bench PRIVATE kv_app kv_test_support)
endif()
