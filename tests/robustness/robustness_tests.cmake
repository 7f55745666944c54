# The fuzz targets' crash regressions (tests/regression/<target>/) and seed corpus,
# replayed through the same drivers in a normal build; and the ten thousand mixed export
# calls that scripts/valgrind-check.sh runs under valgrind.
add_executable(fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay.cpp ${PROJECT_SOURCE_DIR}/fuzz/drivers.cpp
                           ${PROJECT_SOURCE_DIR}/fuzz/seeds.cpp)
target_link_libraries(fuzz_replay PRIVATE tessik_core tessik_writer)
add_test(NAME fuzz_replay COMMAND fuzz_replay ${PROJECT_SOURCE_DIR}/tests/regression)

add_executable(mixed_calls ${CMAKE_CURRENT_LIST_DIR}/mixed_calls.cpp)
target_link_libraries(mixed_calls PRIVATE tessik_core tessik_writer)
add_test(NAME mixed_calls COMMAND mixed_calls)
