// Stand-in of an auxiliary program that the package carries but the setup program never
// installs. It says what it is on standard output and ends.
#include <windows.h>

#include "standin.h"

#ifndef TSP_STANDIN_EDITION
#error "TSP_STANDIN_EDITION selects the edition: 1 workstation, 2 server"
#endif

namespace {

const char* const TEXTS[] = {
    "",
    "tsprdpwsh.exe: stand-in of an auxiliary program of Tessaport RDP Edition - Workstation; it does nothing.\r\n",
    "tsprdptsh.exe: stand-in of an auxiliary program of Tessaport RDP Edition - Server; it does nothing.\r\n",
};
static_assert(TSP_STANDIN_EDITION >= 1 && TSP_STANDIN_EDITION <= 2, "unknown edition");

}  // namespace

int main() {
    standin::WriteOut(TEXTS[TSP_STANDIN_EDITION]);
    return 0;
}
