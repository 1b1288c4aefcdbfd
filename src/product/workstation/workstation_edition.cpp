#include "product/workstation/workstation_edition.h"

#include <string>

#include "product/edition_identity.h"
#include "product/install_process.h"

namespace {

// Names the install steps and the uninstaller share.
const char* const SERVICE_PROGRAM = "tessaportwssrv.exe";
const char* const RDP_CLIENT = "tsprdpclnt.dll";        // into S; its 32-bit build into W
const char* const CITRIX_CLIENT = "tspctxclnt.dll";     // into W
const char* const RDP_CLIENT_32 = "tsprdpclnt_x86_64.dll";  // package entry of the 32-bit build
const char* const PNP_DRIVER = "tsppnptls";
const char* const PNP_DRIVER_FILE = "tsppnptls.sys";
const char* const STUB_DRIVER = "tspvd";
const char* const STUB_DRIVER_FILE = "tspvd.sys";  // into D; from Vista on also into T
const char* const STUB_INF = "tspvd.inf";
const char* const STUB_CATALOG = "tspvd.cat";
const char* const STUB_HARDWARE_ID = "VELOTRINEX\\TSPRDPSTUB";

EditionInfo MakeInfo() {
    EditionInfo info;
    info.displayName = WORKSTATION_IDENTITY.displayName;
    info.setupLogName = "tessaport-rdp-workstation-setup.log";
    info.programName = "tessaportws.exe";
    info.licenseRtfEntry = "tessaport-ws-license.rtf";
    info.webAddress = WORKSTATION_IDENTITY.webAddress;
    info.presenceEvent = "Global\\E524B22C-E6D7-4350-9864-55A30C96ED04";
    info.pipeName = "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA";

    info.serviceName = "tessaportwssrv";
    info.serviceProgramName = SERVICE_PROGRAM;
    info.serviceDisplayName = "Tessaport RDP Edition Workstation Service";
    info.serviceDescription = WORKSTATION_IDENTITY.description;
    info.serviceLoadOrderGroup = "PlugPlay";
    info.serviceStartType = 2;
    info.serviceDependencies = {PNP_DRIVER};

    info.drivers = {
        {STUB_DRIVER, "Tessaport RDP Edition Stub Device", 3, true, 648},
        {PNP_DRIVER, "Tessaport RDP Edition PnP Device", 2, false, 663},
    };
    info.startList = {PNP_DRIVER, "tessaportwssrv"};
    info.stopList = {"tessaportwssrv", PNP_DRIVER};

    info.programFiles = {
        {"tessaportws.exe", 556}, {"tsport_rde_installer.exe", 573}, {"tessaport-ws-license.txt", 581},
        {"readme.txt", 586},      {"tessaport-ws-help.chm", 591},    {"uninstall.exe", 596},
    };

    info.mainShortcut = {"tessaportws.exe", "Tessaport RDP Edition - Workstation"};
    info.menuShortcuts = {
        {"tessaport-ws-help.chm", "Tessaport RDP Edition - Workstation Help"},
        {"tessaport-ws-license.txt", "Tessaport RDP Edition - Workstation License"},
        {"uninstall.exe", "Tessaport RDP Edition - Workstation Uninstall Wizard"},
    };
    info.webShortcutFile = "Tessaport RDP Edition - Workstation on Web.url";
    info.menuShortcutsAfterWeb = {
        {"tsport_rde_installer.exe", "Install Cirtix support for Tessaport RDP Edition - Workstation"},
    };
    info.desktopShortcut = {"tessaportws.exe", "Tessaport RDP Edition - Workstation"};

    info.uninstallKeyName = WORKSTATION_IDENTITY.uninstallKeyName;
    info.uninstallerName = "uninstall.exe";
    info.hasCitrixStep = true;

    info.extractList = {
        "tessaportwssrv.exe",
        "tessaportws.exe",
        "tessaport-ws-license.txt",
        "tessaport-ws-license.rtf",
        "uninstall.exe",
        "readme.txt",
        "tessaport-ws-help.chm",
        "tspvd.inf",
        "tspvd.cat",
        "tspvd_vista.cat",
        "tspvd.sys",
        "tspvd_vista.sys",
        "tsppnptls.sys",
        "tsprdpclnt.dll",
        "tspctxclnt.dll",
        "tsprdpclnt_x86_64.dll",
    };

    info.installedFiles = {
        {EditionFolder::System, SERVICE_PROGRAM}, {EditionFolder::System, RDP_CLIENT},
        {EditionFolder::Wow64, CITRIX_CLIENT},    {EditionFolder::Wow64, RDP_CLIENT},
        {EditionFolder::Drivers, PNP_DRIVER_FILE}, {EditionFolder::Drivers, STUB_DRIVER_FILE},
        {EditionFolder::Target, STUB_DRIVER_FILE}, {EditionFolder::Target, STUB_CATALOG},
        {EditionFolder::Target, STUB_INF},
    };
    // The stub driver's service is the installer's before Vista and the INF's after.
    info.driverServices = {PNP_DRIVER, STUB_DRIVER};
    info.hardwareIds = {STUB_HARDWARE_ID};
    info.driverPackages = {STUB_INF};
    info.uninstallLogName = "tessaport-rdp-workstation-uninstall.log";
    return info;
}

class CWorkstationEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return m_info; }

    void RemoveStaleStubDevice(CInstallProcess& process) const override {
        int markedForDelete = 0;
        if (process.ServiceExists(STUB_DRIVER, &markedForDelete) && !markedForDelete) {
            process.Log("Checking to exist 'usb.stub' service - complete.");
            return;
        }
        // Without a usable stub driver its old device records only get in the way.
        if (process.IsServiceRunning(m_info.serviceName)) {
            process.StopInstalledService(m_info.serviceName);
            os::Kernel().Sleep(200);
        }
        process.RemoveDevicesByHardwareId(STUB_HARDWARE_ID);
    }

    void InstallSystemFiles(CInstallProcess& process) const override {
        const std::string system = process.GetSystemFolder(357);
        process.InstallEntry(SERVICE_PROGRAM, system.c_str(), nullptr, 360);
        process.InstallEntry(RDP_CLIENT, system.c_str(), nullptr, 369);

        PackedFile citrixClient;
        if (!process.FindEntry(CITRIX_CLIENT, &citrixClient)) ThrowException(INSTALL_PROCESS_MODULE, 374);
        std::string wow64;
        if (process.GetSystemWow64Folder(&wow64)) {
            process.InstallFile(CITRIX_CLIENT, wow64.c_str(), citrixClient.content, citrixClient.size);
            PackedFile rdpClient;
            if (process.FindEntry(RDP_CLIENT_32, &rdpClient)) {
                process.InstallFile(RDP_CLIENT, wow64.c_str(), rdpClient.content, rdpClient.size);
            }
        }

        const std::string drivers = system + "\\Drivers";
        process.InstallEntry(PNP_DRIVER_FILE, drivers.c_str(), nullptr, 420);
        if (process.IsVistaOrLater()) {
            process.InstallEntry("tspvd_vista.sys", drivers.c_str(), STUB_DRIVER_FILE, 427);
        } else {
            process.InstallEntry("tspvd.sys", drivers.c_str(), STUB_DRIVER_FILE, 432);
        }
    }

    void InstallDrivers(CInstallProcess& process) const override {
        process.InstallDriverServices(process.GetSystemFolder(628) + "\\Drivers");
        if (!process.IsVistaOrLater()) return;

        // From Vista on the stub driver comes with its INF; its devices are made elsewhere.
        const std::string target = process.GetOptions().targetFolder;
        process.InstallEntry("tspvd_vista.sys", target.c_str(), STUB_DRIVER_FILE, 673);
        process.InstallEntry("tspvd_vista.cat", target.c_str(), STUB_CATALOG, 679);
        process.InstallEntry(STUB_INF, target.c_str(), nullptr, 684);
        if (!process.CopyOemInf((target + "\\" + STUB_INF).c_str())) ThrowException(INSTALL_PROCESS_MODULE, 692);
    }

private:
    EditionInfo m_info = MakeInfo();
};

// Made during static initialisation; the program entries only keep its address then. Not a
// function-local static: the setup code has none that need a guard (docs/build.md).
const CWorkstationEdition g_edition;

}  // namespace

const CEdition& WorkstationEdition() { return g_edition; }
