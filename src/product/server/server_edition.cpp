#include "product/server/server_edition.h"

#include <memory>
#include <string>

#include "product/edition_identity.h"
#include "product/install_process.h"

namespace {

// Names the install steps and the uninstaller share.
const char* const SERVICE_PROGRAM = "tessaporttssrv.exe";
const char* const BUS_DRIVER = "tspvdbus";
const char* const BUS_DRIVER_FILE = "tspvdbus.sys";  // into D and into T
const char* const BUS_INF = "tspvdbus.inf";
const char* const BUS_CATALOG = "tspvdbus.cat";
const char* const BUS_DEVICE_ID = "*tspvdbusDevice";
const char* const HOST_CONTROLLER_ID = "*tspvdhcDevice";
const char* const USB_LIBRARY = "usbd.sys";  // into D, only when Windows has none

EditionInfo MakeInfo() {
    EditionInfo info;
    info.displayName = SERVER_IDENTITY.displayName;
    info.setupLogName = "tessaport-rdp-server-setup.log";
    info.programName = "tessaportts.exe";
    info.licenseRtfEntry = "tessaport-ts-license.rtf";
    info.webAddress = SERVER_IDENTITY.webAddress;
    info.presenceEvent = "Global\\CAA0AA68-96DC-4316-A5EE-8B9794506479";
    info.pipeName = "\\\\.\\pipe\\9E977A6D-4B07-4dbb-8E38-F77BBD5696DC";

    info.serviceName = "tessaporttssrv";
    info.serviceProgramName = SERVICE_PROGRAM;
    info.serviceDisplayName = "Tessaport RDP Edition Server Service";
    info.serviceDescription = SERVER_IDENTITY.description;
    info.serviceLoadOrderGroup = "PlugPlay";
    info.serviceStartType = 2;
    info.serviceDependencies = {BUS_DRIVER};

    info.startList = {"tessaporttssrv"};
    info.stopList = {"tessaporttssrv"};

    info.programFiles = {
        {"tessaportts.exe", 556}, {"tessaport-ts-license.txt", 581},
        {"readme.txt", 586},      {"tessaport-ts-help.chm", 591},
        {"uninstall.exe", 596},
    };

    info.mainShortcut = {"tessaportts.exe", "Tessaport RDP Edition - Server"};
    info.menuShortcuts = {
        {"tessaport-ts-help.chm", "Tessaport RDP Edition - Server Help"},
        {"tessaport-ts-license.txt", "Tessaport RDP Edition - Server License"},
        {"uninstall.exe", "Tessaport RDP Edition - Server Uninstall Wizard"},
    };
    info.webShortcutFile = "Tessaport RDP Edition - Server on Web.url";
    info.desktopShortcut = {"tessaportts.exe", "Tessaport RDP Edition - Server"};

    info.uninstallKeyName = SERVER_IDENTITY.uninstallKeyName;
    info.uninstallerName = "uninstall.exe";
    info.hasCitrixStep = false;

    info.extractList = {
        "tessaporttssrv.exe", "tessaportts.exe", "tessaport-ts-license.txt", "tessaport-ts-license.rtf",
        "uninstall.exe",      "readme.txt",      "tessaport-ts-help.chm",    "tspvdbus.sys",
        "tspvdbus.inf",       "tspvdbus.cat",
    };

    info.installedFiles = {
        {EditionFolder::System, SERVICE_PROGRAM}, {EditionFolder::Drivers, BUS_DRIVER_FILE},
        {EditionFolder::Target, BUS_DRIVER_FILE}, {EditionFolder::Target, BUS_INF},
        {EditionFolder::Target, BUS_CATALOG},
    };
    info.providedFiles = {{EditionFolder::Drivers, USB_LIBRARY, "UsbLibraryMD5"}};
    // The bus driver's service comes from the INF when its devices get their driver.
    info.driverServices = {BUS_DRIVER};
    info.hardwareIds = {BUS_DEVICE_ID, HOST_CONTROLLER_ID};
    info.driverPackages = {BUS_INF};
    info.uninstallLogName = "tessaport-rdp-server-uninstall.log";
    return info;
}

class CServerEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return m_info; }

    void InstallSystemFiles(CInstallProcess& process) const override {
        const std::string system = process.GetSystemFolder(357);
        process.InstallEntry(SERVICE_PROGRAM, system.c_str(), nullptr, 360);
        const std::string drivers = system + "\\Drivers";
        process.InstallEntry(BUS_DRIVER_FILE, drivers.c_str(), nullptr, 442);

        // Windows' own USB driver library is never replaced.
        os::FindData found;
        if (os::FindHandle(os::Files().FindFirstFileA((drivers + "\\" + USB_LIBRARY).c_str(), &found)).IsValid()) {
            return;
        }

        const char* entry = nullptr;
        switch (process.GetOsKind()) {
            case OS_KIND_XP:
                entry = "usblibxp";
                break;
            case OS_KIND_VISTA:
            case OS_KIND_VISTA_SERVER:
                entry = "usblibvista";
                break;
            default:
                return;
        }
        PackedFile library;
        if (!process.FindEntry(entry, &library)) return;
        try {
            process.InstallFile(USB_LIBRARY, drivers.c_str(), library.content, library.size);
        } catch (CExceptionEx* e) {
            std::unique_ptr<CExceptionEx> error(e);
            // Not placing it is no failure, but a half-written system file must not stay.
            process.ForgetCreatedFile(drivers.c_str(), USB_LIBRARY);
        }
    }

    void InstallDrivers(CInstallProcess& process) const override {
        process.GetSystemFolder(628);
        const std::string target = process.GetOptions().targetFolder;
        process.InstallEntry(BUS_DRIVER_FILE, target.c_str(), nullptr, 706);
        process.InstallEntry(BUS_INF, target.c_str(), nullptr, 711);
        process.InstallEntry(BUS_CATALOG, target.c_str(), nullptr, 716);
        const std::string inf = target + "\\" + BUS_INF;
        if (!process.CopyOemInf(inf.c_str())) ThrowException(INSTALL_PROCESS_MODULE, 746);
        process.InstallWdmDriver(BUS_DRIVER, inf.c_str(), BUS_DEVICE_ID);
        process.InstallWdmDriver(BUS_DRIVER, inf.c_str(), HOST_CONTROLLER_ID);
    }

private:
    EditionInfo m_info = MakeInfo();
};

// Made during static initialisation; the program entries only keep its address then. Not a
// function-local static: the setup code has none that need a guard (docs/build.md).
const CServerEdition g_edition;

}  // namespace

const CEdition& ServerEdition() { return g_edition; }
