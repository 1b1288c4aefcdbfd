# Source lists shared by the host, sanitizer and Windows parts of the build.
set(TSP_PORTABLE_SOURCES
    src/package/md5.cpp
    src/package/package_layout.cpp
    src/package/keyed_table.cpp
    src/package/packed_tools.cpp
    src/log/setup_log.cpp
    src/platform/platform.cpp
    src/engine/exception.cpp
    src/engine/installer.cpp
    src/engine/files.cpp
    src/engine/shortcuts.cpp
    src/engine/services.cpp
    src/engine/devices.cpp
    src/engine/trust.cpp
    src/product/citrix.cpp
    src/product/user_iface.cpp
    src/app/command_line.cpp
    src/product/firewall.cpp
    src/product/install_process.cpp
    src/product/edition.cpp
    src/product/uninstall_process.cpp
    src/ui/wizard_logic.cpp
)
# Each edition's table and its own step; every program links exactly one of them. The
# tables are data only: the packing tool takes its entry lists from them.
set(TSP_EDITION_TABLE_SOURCES
    src/product/workstation/workstation_table.cpp
    src/product/server/server_table.cpp
)
set(TSP_WORKSTATION_SOURCES
    src/product/workstation/workstation_table.cpp
    src/product/workstation/workstation_edition.cpp
)
set(TSP_SERVER_SOURCES
    src/product/server/server_table.cpp
    src/product/server/server_edition.cpp
)
set(TSP_WIN32_SOURCES
    src/platform/win32/win32_files.cpp
    src/platform/win32/win32_kernel.cpp
    src/platform/win32/win32_registry.cpp
    src/platform/win32/win32_security.cpp
    src/platform/win32/win32_services.cpp
    src/platform/win32/win32_devices.cpp
    src/platform/win32/win32_shell.cpp
    src/platform/win32/win32_firewall.cpp
    src/platform/win32/win32_processes.cpp
    src/platform/win32/win32_platform.cpp
    src/platform/win32/system_library.cpp
)
# Windows libraries the Win32 side of the seam links against.
# KnownDLLs only: any other DLL is loaded from the system folder at run time.
set(TSP_WIN32_LIBRARIES advapi32 ole32 oleaut32 uuid user32 setupapi shell32)
# GoogleTest programs run under Wine against the real Win32 seam.
set(TSP_WINE_TEST_SOURCES
    tests/wine/win32_seam_test.cpp
)
set(TSP_FAKE_SOURCES
    tests/fake/fault_plan.cpp
    tests/fake/fake_machine.cpp
    tests/fake/fake_security.cpp
    tests/fake/fake_services.cpp
    tests/fake/fake_devices.cpp
    tests/fake/fake_shell.cpp
    tests/fake/fake_registry.cpp
    tests/fake/fake_firewall.cpp
    tests/fake/fake_processes.cpp
)
# The release's winget manifests (host tool).
set(TSP_WINGET_SOURCES
    tools/winget/main.cpp
    tools/winget/winget_manifest.cpp
)
set(TSP_PACK_WRITER_SOURCES
    tools/pack/package_writer.cpp
    tools/pack/edition_check.cpp
    src/product/package_contents.cpp
)
set(TSP_UNIT_TEST_SOURCES
    tests/unit/install_process_test.cpp
    tests/unit/rollback_sweep_test.cpp
    tests/unit/engine_services_test.cpp
    tests/unit/fake_services_test.cpp
    tests/unit/md5_test.cpp
    tests/unit/package_test.cpp
    tests/unit/pack_tool_test.cpp
    tests/unit/payload_pad_test.cpp
    tests/unit/fake_registry_test.cpp
    tests/unit/engine_shortcuts_test.cpp
    tests/unit/setup_log_test.cpp
    tests/unit/engine_core_test.cpp
    tests/unit/engine_files_test.cpp
    tests/unit/engine_devices_test.cpp
    tests/unit/citrix_test.cpp
    tests/unit/trust_test.cpp
    tests/unit/user_iface_test.cpp
    tests/unit/command_line_test.cpp
    tests/unit/firewall_test.cpp
    tests/unit/wizard_logic_test.cpp
    tests/unit/uninstall_process_test.cpp
    tests/unit/uninstall_sweep_test.cpp
    tests/unit/fixed_values_test.cpp
    tests/unit/shipped_exceptions_test.cpp
)
list(TRANSFORM TSP_PORTABLE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_EDITION_TABLE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_WORKSTATION_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_SERVER_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_WIN32_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_FAKE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_PACK_WRITER_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_UNIT_TEST_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM TSP_WINE_TEST_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
