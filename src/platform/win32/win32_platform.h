// Installs the real Windows implementation of every seam area.
#pragma once

namespace os {
void UseWin32();
}
