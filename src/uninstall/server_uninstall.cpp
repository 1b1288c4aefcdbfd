// The server edition's uninstaller: its one application object.
#include "product/server/server_edition.h"
#include "uninstall/uninstall_app.h"

namespace {
CUninstallApp theApp(ServerEdition());
}  // namespace
