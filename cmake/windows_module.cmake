# The Windows DLL links no C runtime: it imports nothing but KERNEL32 and USER32, so it
# loads in any host whatever runtime the host itself uses.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TESSIK_MODULE_SUFFIX ".sph")
  set(TESSIK_DEF_FILE ${PROJECT_SOURCE_DIR}/plugin/tessik01-64.def)
  set(TESSIK_ENTRY DllMain)
else()
  set(TESSIK_MODULE_SUFFIX ".spi")
  set(TESSIK_DEF_FILE ${PROJECT_SOURCE_DIR}/plugin/tessik01.def)
  set(TESSIK_ENTRY _DllMain@12)
endif()

add_library(tessik01 SHARED ${TESSIK_PLUGIN_SOURCES}
            platform/win32_platform.cpp platform/win32_module.cpp ${TESSIK_DEF_FILE})
target_include_directories(tessik01 PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(tessik01 PRIVATE ${TESSIK_PLUGIN_FLAGS} -fno-stack-protector)
# The runtime functions there must not be compiled into calls to themselves.
set_source_files_properties(platform/win32_module.cpp PROPERTIES
                            COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
target_link_options(tessik01 PRIVATE -nostdlib -nostartfiles -Wl,-e,${TESSIK_ENTRY} -Wl,--enable-stdcall-fixup)
target_link_libraries(tessik01 PRIVATE kernel32 user32 gcc)
set_target_properties(tessik01 PROPERTIES PREFIX "" SUFFIX ${TESSIK_MODULE_SUFFIX} OUTPUT_NAME tessik01
                                          IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
set(TESSIK_MODULE_FILE tessik01${TESSIK_MODULE_SUFFIX})
