#include "platform/win32/win32_platform.h"

#include "platform/platform.h"
#include "platform/win32/win32_areas.h"

namespace os {

void UseWin32() {
    static Win32Kernel kernel;
    static Win32Files files;
    static Win32Registry registry;
    static Win32Security security;
    static Win32Services services;
    static Win32Devices devices;
    static Win32Shell shell;
    static Win32Processes processes;
    static Win32Firewall firewall;
    Platform platform;
    platform.kernel = &kernel;
    platform.files = &files;
    platform.registry = &registry;
    platform.security = &security;
    platform.services = &services;
    platform.devices = &devices;
    platform.shell = &shell;
    platform.processes = &processes;
    platform.firewall = &firewall;
    Install(platform);
}

}  // namespace os
