// The server installer's one application object.
#include "app/install_app.h"
#include "product/server/server_edition.h"

namespace {
const AppEdition APP_EDITION = {&ServerEdition(), "Version 3.7", "3.7", 0x00037000u, true};
CInstallApp theApp(APP_EDITION);
}  // namespace
