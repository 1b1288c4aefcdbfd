// The workstation edition's table: what its installation places and makes, and what its
// uninstaller takes away again.
#include "product/edition_identity.h"
#include "product/workstation/workstation_edition.h"

namespace {

using namespace edition_table;

constexpr const char* SERVICE = "tessaportwssrv";
constexpr const char* PNP_DRIVER = "tsppnptls";
constexpr const char* PROGRAM = "tessaportws.exe";
constexpr const char* DISPLAY_NAME = WORKSTATION_IDENTITY.displayName;

// In stored order, each with its place in the unpack-only mode's order (0: not extracted).
constexpr EditionEntry PACKAGE[] = {
    {"tessaportwssrv.exe", 1},
    {"tessaportws.exe", 2},
    {"tessaport-ws-license.txt", 3},
    {"tessaport-ws-license.rtf", 4},
    {"tessaport-ws-help.chm", 7},
    {"readme.txt", 6},
    {"uninstall.exe", 5},
    {"tsprdpwsh.exe", 0},
    {"tsppnptls.sys", 13},
    {"tspvd.sys", 11},
    {"tspvd_vista.sys", 12},
    {"tspvd.cat", 9},
    {"tspvd.inf", 8},
    {"tspvd_vista.cat", 10},
    {"tsprdpclnt.dll", 14},
    {"tspctxclnt.dll", 15},
    {"tsport_rde_installer.exe", 0},
    {"tsprdpclnt_x86_64.dll", 16},
    {"usblibvista", 0},
    {"usblibxp", 0},
};

constexpr EditionFile FILES[] = {
    {SYSTEM_FILES, S, ALWAYS, 360, "tessaportwssrv.exe"},
    {SYSTEM_FILES, S, ALWAYS, 369, "tsprdpclnt.dll"},
    // Looked up even where there is no Wow64 folder; its 32-bit client only where it is.
    {SYSTEM_FILES, W, ALWAYS, 374, "tspctxclnt.dll"},
    {SYSTEM_FILES, W, ALWAYS, 0, "tsprdpclnt_x86_64.dll", "tsprdpclnt.dll"},
    {SYSTEM_FILES, D, ALWAYS, 420, "tsppnptls.sys"},
    {SYSTEM_FILES, D, VISTA, 427, "tspvd_vista.sys", "tspvd.sys"},
    {SYSTEM_FILES, D, BEFORE_VISTA, 432, "tspvd.sys"},
    {PROGRAM_FILES, T, ALWAYS, 556, PROGRAM},
    {PROGRAM_FILES, T, ALWAYS, 573, "tsport_rde_installer.exe"},
    {PROGRAM_FILES, T, ALWAYS, 581, "tessaport-ws-license.txt"},
    {PROGRAM_FILES, T, ALWAYS, 586, "readme.txt"},
    {PROGRAM_FILES, T, ALWAYS, 591, "tessaport-ws-help.chm"},
    {PROGRAM_FILES, T, ALWAYS, 596, "uninstall.exe"},
    // From Vista on the stub driver comes with its INF; its devices are made elsewhere.
    {DRIVERS, T, VISTA, 673, "tspvd_vista.sys", "tspvd.sys"},
    {DRIVERS, T, VISTA, 679, "tspvd_vista.cat", "tspvd.cat"},
    {DRIVERS, T, VISTA, 684, "tspvd.inf"},
};
static_assert(FilesArePackaged(PACKAGE, FILES), "a file row names an entry the package lacks");
static_assert(ExtractPlacesAreDistinct(PACKAGE), "the extract places are not 1, 2, ... each once");

// The stub driver's service is the installer's before Vista and its INF's after.
constexpr EditionDriver DRIVERS_MADE[] = {
    {WORKSTATION_STUB_DRIVER, "Tessaport RDP Edition Stub Device", 3, BEFORE_VISTA, 648},
    {PNP_DRIVER, "Tessaport RDP Edition PnP Device", 2, ALWAYS, 663},
};
constexpr const char* DEPENDENCIES[] = {PNP_DRIVER};
constexpr const char* START_LIST[] = {PNP_DRIVER, SERVICE};
constexpr EditionDriverPackage DRIVER_PACKAGES[] = {{"tspvd.inf", VISTA, 692}};
constexpr EditionDevice DEVICES[] = {{WORKSTATION_STUB_HARDWARE_ID, nullptr, nullptr}};

constexpr EditionLink LINKS[] = {
    {EditionLinkPlace::MenuMain, PROGRAM, DISPLAY_NAME},
    {EditionLinkPlace::Menu, "tessaport-ws-help.chm", "Tessaport RDP Edition - Workstation Help"},
    {EditionLinkPlace::Menu, "tessaport-ws-license.txt", "Tessaport RDP Edition - Workstation License"},
    {EditionLinkPlace::Menu, "uninstall.exe", "Tessaport RDP Edition - Workstation Uninstall Wizard"},
    {EditionLinkPlace::MenuWeb, nullptr, "Tessaport RDP Edition - Workstation on Web.url"},
    {EditionLinkPlace::Menu, "tsport_rde_installer.exe",
     "Install Cirtix support for Tessaport RDP Edition - Workstation"},
    {EditionLinkPlace::Desktop, PROGRAM, DISPLAY_NAME},
    {EditionLinkPlace::QuickLaunch, PROGRAM, DISPLAY_NAME},
};

}  // namespace

constexpr EditionInfo WORKSTATION_TABLE = {
    DISPLAY_NAME,
    "tessaport-rdp-workstation-setup.log",
    "tessaport-rdp-workstation-uninstall.log",
    PROGRAM,
    "tessaport-ws-license.rtf",
    WORKSTATION_IDENTITY.webAddress,
    "Global\\E524B22C-E6D7-4350-9864-55A30C96ED04",
    "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA",

    SERVICE,
    "tessaportwssrv.exe",
    "Tessaport RDP Edition Workstation Service",
    WORKSTATION_IDENTITY.description,
    "PlugPlay",
    2,
    DEPENDENCIES,

    WORKSTATION_IDENTITY.uninstallKeyName,
    "uninstall.exe",
    true,

    PACKAGE,
    FILES,
    DRIVERS_MADE,
    START_LIST,
    DRIVER_PACKAGES,
    DEVICES,
    LINKS,
};

// The workstation's object (workstation_edition.cpp) binds no devices and places no files
// by digest: give it those hooks before adding such rows.
static_assert(!HasBoundDevices(WORKSTATION_TABLE) && !HasDigestFiles(WORKSTATION_TABLE),
              "a row the workstation's object cannot install");
