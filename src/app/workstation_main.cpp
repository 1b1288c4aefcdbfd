// The workstation installer's one application object.
#include "app/install_app.h"
#include "product/workstation/workstation_edition.h"

namespace {
const AppEdition APP_EDITION = {&WorkstationEdition(), "Version 3.7", "3.7", 0x00037000u, false};
CInstallApp theApp(APP_EDITION);
}  // namespace
