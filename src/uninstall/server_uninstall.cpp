// The server edition's uninstaller: its one application object.
#include "product/server/server_edition.h"
#include "uninstall/uninstall_app.h"

namespace {
const CEditionTable g_edition(SERVER_TABLE);
CUninstallApp theApp(g_edition);
}  // namespace
