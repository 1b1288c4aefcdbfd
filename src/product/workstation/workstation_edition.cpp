#include "product/workstation/workstation_edition.h"

#include "product/citrix.h"
#include "product/install_process.h"

namespace {

class CWorkstationEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return WORKSTATION_TABLE; }

    void RemoveStaleStubDevice(CInstallProcess& process) const override {
        int markedForDelete = 0;
        if (process.ServiceExists(WORKSTATION_STUB_DRIVER, &markedForDelete) && !markedForDelete) {
            process.Log("Checking to exist 'usb.stub' service - complete.");
            return;
        }
        // Without a usable stub driver its old device records only get in the way.
        if (process.IsServiceRunning(WORKSTATION_TABLE.serviceName)) {
            process.StopInstalledService(WORKSTATION_TABLE.serviceName);
            os::Kernel().Sleep(200);
        }
        process.RemoveDevicesByHardwareId(WORKSTATION_STUB_HARDWARE_ID);
    }

    void RunCitrixSupport(CInstallProcess& process, int registerDll) const override {
        RunCitrixSupportInstaller(process, process.GetOptions().targetFolder.c_str(), CitrixKeyword(registerDll));
    }
};

// A constant object at namespace scope: the program entries only keep its address. Not a
// function-local static: the setup code has none that need a guard (docs/build.md).
const CWorkstationEdition g_edition{};

}  // namespace

const CEdition& WorkstationEdition() { return g_edition; }
