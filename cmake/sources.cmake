# Source lists shared by the host, sanitizer and Windows parts of the build.
set(TSP_PORTABLE_SOURCES
    src/package/md5.cpp
    src/package/package_layout.cpp
    src/package/packed_tools.cpp
    src/platform/platform.cpp
)
set(TSP_WIN32_SOURCES
    src/platform/win32/win32_files.cpp
    src/platform/win32/win32_kernel.cpp
    src/platform/win32/win32_registry.cpp
    src/platform/win32/win32_security.cpp
    src/platform/win32/win32_services.cpp
    src/platform/win32/win32_platform.cpp
)
set(TSP_FAKE_SOURCES
    tests/fake/fault_plan.cpp
    tests/fake/fake_machine.cpp
    tests/fake/fake_security.cpp
    tests/fake/fake_services.cpp
)
set(TSP_PACK_WRITER_SOURCES
    tools/pack/package_writer.cpp
)
set(TSP_UNIT_TEST_SOURCES
    tests/unit/md5_test.cpp
    tests/unit/package_test.cpp
    tests/unit/pack_tool_test.cpp
)
list(TRANSFORM TSP_PORTABLE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_WIN32_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_FAKE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_PACK_WRITER_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_UNIT_TEST_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
