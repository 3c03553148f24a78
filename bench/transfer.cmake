# Send and Get against the simulated box: a benchmark, not a test (run build/bench/transfer_bench).
add_executable(transfer_bench ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_link_libraries(transfer_bench PRIVATE kv_transfer kv_boxsim kv_test_support)
