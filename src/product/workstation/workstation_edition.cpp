#include "product/workstation/workstation_edition.h"

#include <string>

#include "product/install_process.h"

namespace {

const char* const STUB_DRIVER = "tspvd";
const char* const STUB_HARDWARE_ID = "VELOTRINEX\\TSPRDPSTUB";

EditionInfo MakeInfo() {
    EditionInfo info;
    info.displayName = "Tessaport RDP Edition - Workstation";
    info.setupLogName = "tessaport-rdp-workstation-setup.log";
    info.programName = "tessaportws.exe";
    info.licenseRtfEntry = "tessaport-ws-license.rtf";
    info.webAddress = "http://www.velotrinex.com/tessaport-rdp/";
    info.presenceEvent = "Global\\E524B22C-E6D7-4350-9864-55A30C96ED04";
    info.pipeName = "\\\\.\\pipe\\C9833C64-5102-4878-A513-AF5D0BC397EA";

    info.serviceName = "tessaportwssrv";
    info.serviceProgramName = "tessaportwssrv.exe";
    info.serviceDisplayName = "Tessaport RDP Edition Workstation Service";
    info.serviceDescription = "Tessaport RDP Edition Workstation - helps to share USB devices over IP";
    info.serviceLoadOrderGroup = "PlugPlay";
    info.serviceStartType = 2;
    info.serviceDependencies = {"tsppnptls"};

    info.drivers = {
        {STUB_DRIVER, "Tessaport RDP Edition Stub Device", 3, true, 648},
        {"tsppnptls", "Tessaport RDP Edition PnP Device", 2, false, 663},
    };
    info.startList = {"tsppnptls", "tessaportwssrv"};
    info.stopList = {"tessaportwssrv", "tsppnptls"};

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

    info.uninstallKeyName = "{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}";
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
        process.InstallEntry("tessaportwssrv.exe", system.c_str(), nullptr, 360);
        process.InstallEntry("tsprdpclnt.dll", system.c_str(), nullptr, 369);

        PackedFile citrixClient;
        if (!process.FindEntry("tspctxclnt.dll", &citrixClient)) ThrowException(INSTALL_PROCESS_MODULE, 374);
        std::string wow64;
        if (process.GetSystemWow64Folder(&wow64)) {
            process.InstallFile("tspctxclnt.dll", wow64.c_str(), citrixClient.content, citrixClient.size);
            PackedFile rdpClient;
            if (process.FindEntry("tsprdpclnt_x86_64.dll", &rdpClient)) {
                process.InstallFile("tsprdpclnt.dll", wow64.c_str(), rdpClient.content, rdpClient.size);
            }
        }

        const std::string drivers = system + "\\Drivers";
        process.InstallEntry("tsppnptls.sys", drivers.c_str(), nullptr, 420);
        if (process.IsVistaOrLater()) {
            process.InstallEntry("tspvd_vista.sys", drivers.c_str(), "tspvd.sys", 427);
        } else {
            process.InstallEntry("tspvd.sys", drivers.c_str(), nullptr, 432);
        }
    }

    void InstallDrivers(CInstallProcess& process) const override {
        process.InstallDriverServices(process.GetSystemFolder(628) + "\\Drivers");
        if (!process.IsVistaOrLater()) return;

        // From Vista on the stub driver comes with its INF; its devices are made elsewhere.
        const std::string target = process.GetOptions().targetFolder;
        process.InstallEntry("tspvd_vista.sys", target.c_str(), "tspvd.sys", 673);
        process.InstallEntry("tspvd_vista.cat", target.c_str(), "tspvd.cat", 679);
        process.InstallEntry("tspvd.inf", target.c_str(), nullptr, 684);
        if (!process.CopyOemInf((target + "\\tspvd.inf").c_str())) ThrowException(INSTALL_PROCESS_MODULE, 692);
    }

private:
    EditionInfo m_info = MakeInfo();
};

}  // namespace

const CEdition& WorkstationEdition() {
    static const CWorkstationEdition edition;
    return edition;
}
