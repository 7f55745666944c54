# Unit tests: one GoogleTest program that calls the plug-in's code directly, linked with
# the static library so that it reaches the platform layer's failure switch.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(unit_tests
    unit/test_support.cpp
    platform/posix_platform_test.cpp
    stream/memory_stream_test.cpp
    stream/file_stream_test.cpp
    archive/archive_handler_test.cpp
    archive/uk_archive_test.cpp
    archive/arc_archive_test.cpp
    plugin/exports_test.cpp
    plugin/hardening_test.cpp)
target_link_libraries(unit_tests PRIVATE tessik_core tessik_writer GTest::gtest_main)
# The plug-in's classes are built without RTTI, which UBSan's vptr check needs to look at
# the objects these tests call into; every other check stays on.
target_compile_options(unit_tests PRIVATE -fno-sanitize=vptr)
# Each test becomes a ctest case of its own.
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
