// The workstation installer's one application object.
#include "app/install_app.h"
#include "product/workstation/workstation_edition.h"

namespace {
const AppEdition APP_EDITION = {&WorkstationEdition(), "Version " TSP_VERSION_TEXT, PRODUCT_VERSION_TEXT,
                                 PRODUCT_VERSION_VALUE, false};
CInstallApp theApp(APP_EDITION);
}  // namespace
