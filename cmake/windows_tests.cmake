# The Windows test programs run under Wine: 64-bit directly, 32-bit through qemu with one
# persistent Wine server per run (see scripts/wine-env.sh).
add_dependencies(host_test tessik01)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TESSIK_WINE_RUNNER ${PROJECT_SOURCE_DIR}/scripts/run-wine64.sh)
else()
  set(TESSIK_WINE_RUNNER ${PROJECT_SOURCE_DIR}/scripts/run-wine32.sh)
  add_test(NAME export_table
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-exports.sh $<TARGET_FILE:tessik01> ${CMAKE_OBJDUMP})
endif()
add_test(NAME host_test COMMAND ${TESSIK_WINE_RUNNER} $<TARGET_FILE:host_test>)
set_tests_properties(host_test PROPERTIES TIMEOUT 2400)
