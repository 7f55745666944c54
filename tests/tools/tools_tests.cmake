# The command-line tools run as a user runs them, against the built module.
find_package(GTest REQUIRED)

add_executable(tools_test tools/tools_test.cpp)
target_link_libraries(tools_test PRIVATE tessik_writer tessik_cli_parts GTest::gtest_main)
target_compile_definitions(tools_test PRIVATE
    TESSIK_CLI_PATH="$<TARGET_FILE:tessik>"
    TESSIK_PACK_PATH="$<TARGET_FILE:tessik-pack>"
    TESSIK_MODULE_PATH="$<TARGET_FILE:tessik01>")
add_dependencies(tools_test tessik tessik-pack tessik01)
add_test(NAME tools_test COMMAND tools_test)
