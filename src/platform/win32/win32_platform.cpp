#include "platform/win32/win32_platform.h"

#include "platform/platform.h"
#include "platform/win32/win32_areas.h"

namespace os {

namespace {
// At namespace scope: function-local statics would need guards (docs/build.md).
Win32Kernel g_kernel;
Win32Files g_files;
Win32Registry g_registry;
Win32Security g_security;
Win32Services g_services;
Win32Devices g_devices;
Win32Shell g_shell;
Win32Processes g_processes;
Win32Firewall g_firewall;
}  // namespace

void UseWin32() {
    Platform platform;
    platform.kernel = &g_kernel;
    platform.files = &g_files;
    platform.registry = &g_registry;
    platform.security = &g_security;
    platform.services = &g_services;
    platform.devices = &g_devices;
    platform.shell = &g_shell;
    platform.processes = &g_processes;
    platform.firewall = &g_firewall;
    Install(platform);
}

}  // namespace os
