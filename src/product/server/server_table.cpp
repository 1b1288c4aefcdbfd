// The server edition's table: what its installation places and makes, and what its
// uninstaller takes away again.
#include "product/edition_identity.h"
#include "product/server/server_edition.h"

namespace {

using namespace edition_table;

constexpr const char* SERVICE = "tessaporttssrv";
constexpr const char* BUS_DRIVER = "tspvdbus";
constexpr const char* BUS_INF = "tspvdbus.inf";
constexpr const char* PROGRAM = "tessaportts.exe";
constexpr const char* DISPLAY_NAME = SERVER_IDENTITY.displayName;
// Windows' USB driver library: placed only where Windows lacks it, from the entry for the
// engine's OS kind, and taken away only while it is still what was placed.
constexpr const char* USB_LIBRARY = "usbd.sys";
constexpr const char* USB_LIBRARY_DIGEST = "UsbLibraryMD5";

// In stored order, each with its place in the unpack-only mode's order (0: not extracted).
constexpr EditionEntry PACKAGE[] = {
    {"tessaporttssrv.exe", 1},
    {"tessaportts.exe", 2},
    {"tessaport-ts-license.txt", 3},
    {"tessaport-ts-license.rtf", 4},
    {"tessaport-ts-help.chm", 7},
    {"readme.txt", 6},
    {"uninstall.exe", 5},
    {"tsprdptsh.exe", 0},
    {"tspvdbus.sys", 8},
    {BUS_INF, 9},
    {"tspvdbus.cat", 10},
    {"usblibvista", 0},
    {"usblibxp", 0},
};

constexpr EditionFile FILES[] = {
    {SYSTEM_FILES, S, ALWAYS, 360, "tessaporttssrv.exe"},
    {SYSTEM_FILES, D, ALWAYS, 442, "tspvdbus.sys"},
    {SYSTEM_FILES, D, EditionWhen::XpKind, 0, "usblibxp", USB_LIBRARY, USB_LIBRARY_DIGEST},
    {SYSTEM_FILES, D, EditionWhen::VistaKind, 0, "usblibvista", USB_LIBRARY, USB_LIBRARY_DIGEST},
    {PROGRAM_FILES, T, ALWAYS, 556, PROGRAM},
    {PROGRAM_FILES, T, ALWAYS, 581, "tessaport-ts-license.txt"},
    {PROGRAM_FILES, T, ALWAYS, 586, "readme.txt"},
    {PROGRAM_FILES, T, ALWAYS, 591, "tessaport-ts-help.chm"},
    {PROGRAM_FILES, T, ALWAYS, 596, "uninstall.exe"},
    {DRIVERS, T, ALWAYS, 706, "tspvdbus.sys"},
    {DRIVERS, T, ALWAYS, 711, BUS_INF},
    {DRIVERS, T, ALWAYS, 716, "tspvdbus.cat"},
};
static_assert(FilesArePackaged(PACKAGE, FILES), "a file row names an entry the package lacks");
static_assert(ExtractPlacesAreDistinct(PACKAGE), "the extract places are not 1, 2, ... each once");

// The bus driver's service comes from the INF when its devices get their driver.
constexpr EditionDriver DRIVERS_MADE[] = {{BUS_DRIVER, nullptr, 0, EditionWhen::Never, 0}};
constexpr const char* DEPENDENCIES[] = {BUS_DRIVER};
constexpr const char* START_LIST[] = {SERVICE};
constexpr EditionDriverPackage DRIVER_PACKAGES[] = {{BUS_INF, ALWAYS, 746}};
constexpr EditionDevice DEVICES[] = {
    {"*tspvdbusDevice", BUS_DRIVER, BUS_INF},
    {"*tspvdhcDevice", BUS_DRIVER, BUS_INF},
};

constexpr EditionLink LINKS[] = {
    {EditionLinkPlace::MenuMain, PROGRAM, DISPLAY_NAME},
    {EditionLinkPlace::Menu, "tessaport-ts-help.chm", "Tessaport RDP Edition - Server Help"},
    {EditionLinkPlace::Menu, "tessaport-ts-license.txt", "Tessaport RDP Edition - Server License"},
    {EditionLinkPlace::Menu, "uninstall.exe", "Tessaport RDP Edition - Server Uninstall Wizard"},
    {EditionLinkPlace::MenuWeb, nullptr, "Tessaport RDP Edition - Server on Web.url"},
    {EditionLinkPlace::Desktop, PROGRAM, DISPLAY_NAME},
    {EditionLinkPlace::QuickLaunch, PROGRAM, DISPLAY_NAME},
};

}  // namespace

constexpr EditionInfo SERVER_TABLE = {
    DISPLAY_NAME,
    "tessaport-rdp-server-setup.log",
    "tessaport-rdp-server-uninstall.log",
    PROGRAM,
    "tessaport-ts-license.rtf",
    SERVER_IDENTITY.webAddress,
    "Global\\CAA0AA68-96DC-4316-A5EE-8B9794506479",
    "\\\\.\\pipe\\9E977A6D-4B07-4dbb-8E38-F77BBD5696DC",

    SERVICE,
    "tessaporttssrv.exe",
    "Tessaport RDP Edition Server Service",
    SERVER_IDENTITY.description,
    "PlugPlay",
    2,
    DEPENDENCIES,

    SERVER_IDENTITY.uninstallKeyName,
    "uninstall.exe",
    false,

    PACKAGE,
    FILES,
    DRIVERS_MADE,
    START_LIST,
    DRIVER_PACKAGES,
    DEVICES,
    LINKS,
};

// The server's object (server_edition.cpp) has no Citrix step: give it one before the table
// asks for it.
static_assert(!SERVER_TABLE.hasCitrixStep, "a step the server's object cannot run");
