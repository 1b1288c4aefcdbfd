#include "platform/platform.h"

namespace os {
namespace {
Platform g_platform;
}

const Platform& Current() { return g_platform; }
void Install(const Platform& platform) { g_platform = platform; }

}  // namespace os
