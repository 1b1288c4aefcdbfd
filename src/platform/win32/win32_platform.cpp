#include "platform/win32/win32_platform.h"

#include "platform/platform.h"
#include "platform/win32/win32_areas.h"

namespace os {

void UseWin32() {
    static Win32Kernel kernel;
    static Win32Files files;
    Platform platform;
    platform.kernel = &kernel;
    platform.files = &files;
    Install(platform);
}

}  // namespace os
