// The workstation edition's uninstaller: its one application object.
#include "product/workstation/workstation_edition.h"
#include "uninstall/uninstall_app.h"

namespace {
const CEditionTable g_edition(WORKSTATION_TABLE);
CUninstallApp theApp(g_edition);
}  // namespace
