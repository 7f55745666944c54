# The Linux build: our own implementation of the Windows calls, a static library for the
# unit tests (which reach the failure switches of the platform layer), and tessik01.so.
add_library(tessik_core STATIC ${TESSIK_PLUGIN_SOURCES} platform/posix_platform.cpp)
target_include_directories(tessik_core PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(tessik_core PRIVATE ${TESSIK_PLUGIN_FLAGS})
set_target_properties(tessik_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(tessik01 MODULE ${TESSIK_PLUGIN_SOURCES} platform/posix_platform.cpp)
target_include_directories(tessik01 PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(tessik01 PRIVATE ${TESSIK_PLUGIN_FLAGS} -fvisibility=hidden -fvisibility-inlines-hidden)
set_target_properties(tessik01 PROPERTIES PREFIX "" SUFFIX ".so" OUTPUT_NAME tessik01)
set(TESSIK_MODULE_FILE tessik01.so)
