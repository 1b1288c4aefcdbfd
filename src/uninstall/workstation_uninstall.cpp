// The workstation edition's uninstaller: its one application object.
#include "product/workstation/workstation_edition.h"
#include "uninstall/uninstall_app.h"

namespace {
CUninstallApp theApp(WorkstationEdition());
}  // namespace
