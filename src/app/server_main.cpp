// The server installer's one application object.
#include "app/install_app.h"
#include "product/server/server_edition.h"

namespace {
const AppEdition APP_EDITION = {&ServerEdition(), "Version " TSP_VERSION_TEXT, PRODUCT_VERSION_TEXT,
                                 PRODUCT_VERSION_VALUE, true};
CInstallApp theApp(APP_EDITION);
}  // namespace
