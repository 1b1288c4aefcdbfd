#include <string>
#include <vector>

#include "engine_test_support.h"

using namespace enginetest;

namespace {

using Config = fake::CFakeServices::Config;

const std::string SYSTEM = "C:\\Windows\\system32";
const std::string DRIVERS = SYSTEM + "\\Drivers";
const std::string SERVICE = "tessaportwssrv";
const std::string SERVICE_IMAGE = SYSTEM + "\\tessaportwssrv.exe";
const std::string SERVICE_DISPLAY = "Tessaport RDP Edition Workstation Service";
const std::string SERVICE_DESCRIPTION = "Tessaport RDP Edition Workstation - helps to share USB devices over IP";
const std::string DRIVER = "tsppnptls";
const std::string DRIVER_IMAGE = DRIVERS + "\\tsppnptls.sys";
const std::string DRIVER_DISPLAY = "Tessaport RDP Edition PnP Device";
const std::string WARNING = "Warning: === Reboot required to complete operation ===\r\n";

std::string Key(const std::string& name) { return fake::CFakeServices::KeyPath(name); }
std::vector<std::uint8_t> Bytes(const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }
std::string Line(const std::string& text, const std::string& argument = "") { return text + argument + "\r\n"; }

// The engine's service manager handle, for the cases without one.
struct ManagerOf : CInstaller {
    static constexpr os::ServiceHandle CInstaller::*member = &ManagerOf::m_hSCManager;
};

class EngineServices : public EngineTest {
protected:
    EngineServices() {
        machine.files.PutFile(SERVICE_IMAGE, "service program");
        machine.files.PutFile(DRIVER_IMAGE, "driver");
        Make();
    }

    int InstallMain(const std::vector<std::string>* dependencies, const char* group = "PlugPlay") {
        std::vector<const char*> names;
        if (dependencies != nullptr) {
            for (const std::string& dependency : *dependencies) names.push_back(dependency.c_str());
        }
        return installer->InstallService(SERVICE_IMAGE.c_str(), SERVICE.c_str(), SERVICE_DISPLAY.c_str(),
                                         SERVICE_DESCRIPTION.c_str(), group, os::SERVICE_AUTO_START, names.data(),
                                         names.size());
    }
    int InstallPnpDriver(os::DWORD startType = os::SERVICE_AUTO_START) {
        return installer->InstallDriver(DRIVER_IMAGE.c_str(), DRIVER.c_str(), DRIVER_DISPLAY.c_str(), startType);
    }
    // An older installation of the service, as its installer left it.
    fake::CFakeServices::Service& AddOldService(os::DWORD state = os::SERVICE_STOPPED) {
        Config old;
        old.type = os::SERVICE_WIN32_OWN_PROCESS;
        old.startType = os::SERVICE_DEMAND_START;
        old.imagePath = "C:\\Old\\tessaportwssrv.exe";
        old.displayName = "Old Service";
        old.account = "LocalSystem";
        machine.files.PutFile(old.imagePath, "old service program");
        return machine.services.AddService(SERVICE, old, state);
    }
    void DropManager() { ((*installer).*ManagerOf::member).Reset(); }
    int Flag() const { return *installer->GetRebootFlag(); }
    void ExpectOnlyTheManagerOpen() const {
        EXPECT_EQ(machine.services.OpenHandleCount(), 1u);
        EXPECT_FALSE(machine.services.IsLocked());
        EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    }

    const std::vector<std::string> mainDependencies{DRIVER};
};

// ---- creating and reconfiguring ------------------------------------------------------------

TEST_F(EngineServices, NewServiceIsCreatedDescribedJournalledAndLoggedByName) {
    EXPECT_EQ(InstallMain(&mainDependencies), 1);

    const auto* service = machine.services.Find(SERVICE);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->config.type, os::SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(service->config.startType, os::SERVICE_AUTO_START);
    EXPECT_EQ(service->config.errorControl, os::SERVICE_ERROR_NORMAL);
    EXPECT_EQ(service->config.imagePath, SERVICE_IMAGE);
    EXPECT_EQ(service->config.displayName, SERVICE_DISPLAY);
    EXPECT_EQ(service->config.group, "PlugPlay");
    EXPECT_EQ(service->config.dependencies, mainDependencies);
    EXPECT_EQ(service->config.description, SERVICE_DESCRIPTION);
    EXPECT_EQ(service->config.account, "LocalSystem");
    EXPECT_EQ(service->state, os::SERVICE_STOPPED);
    EXPECT_EQ(machine.registry.GetValue(Key(SERVICE), "DependOnService")->data,
              Bytes(std::string("tsppnptls\0\0", 11)));

    EXPECT_EQ(installer->GetJournal().at(SERVICE), JOURNAL_SERVICE);
    EXPECT_TRUE(installer->GetServiceKeyBackups().empty());
    EXPECT_EQ(machine.services.LockCount(), 0u);  // creation runs without the lock
    EXPECT_EQ(LogText(), Line("Install Service: ", SERVICE));
    EXPECT_EQ(Flag(), 0);
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, DependencyBufferHoldsEveryNameThenEmptyOrAbsentListGivesNone) {
    const std::vector<std::string> two{"tsppnptls", "RpcSs"};
    EXPECT_EQ(InstallMain(&two), 1);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.dependencies, two);
    EXPECT_EQ(machine.registry.GetValue(Key(SERVICE), "DependOnService")->data,
              Bytes(std::string("tsppnptls\0RpcSs\0\0", 17)));

    const std::vector<std::string> empty;
    installer->UninstallService(SERVICE.c_str());
    ASSERT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_EQ(InstallMain(&empty), 1);
    EXPECT_TRUE(machine.services.Find(SERVICE)->config.dependencies.empty());
    EXPECT_FALSE(machine.registry.GetValue(Key(SERVICE), "DependOnService").has_value());

    installer->UninstallService(SERVICE.c_str());
    EXPECT_EQ(InstallMain(nullptr, nullptr), 1);
    EXPECT_TRUE(machine.services.Find(SERVICE)->config.dependencies.empty());
    EXPECT_EQ(machine.services.Find(SERVICE)->config.group, "");
    EXPECT_FALSE(machine.registry.GetValue(Key(SERVICE), "Group").has_value());
}

TEST_F(EngineServices, DependenciesAreSetOnceMoreAfterCreateSoAGarblingCreateStillEndsExact) {
    machine.services.createGarblesDependencies = true;
    const std::vector<std::string> two{"tsppnptls", "RpcSs"};
    EXPECT_EQ(InstallMain(&two), 1);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.dependencies, two);
    EXPECT_EQ(machine.registry.GetValue(Key(SERVICE), "DependOnService")->data,
              Bytes(std::string("tsppnptls\0RpcSs\0\0", 17)));

    // The extra call is no step of its own: its failure fails nothing and journals the same.
    installer->UninstallService(SERVICE.c_str());
    machine.Faults().FailCall("ChangeServiceConfigA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallMain(&two), 1);
    EXPECT_EQ(installer->GetJournal().at(SERVICE), JOURNAL_SERVICE);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.description, SERVICE_DESCRIPTION);
    EXPECT_EQ(Flag(), 0);

    // Without a list there is nothing to set again.
    installer->UninstallService(SERVICE.c_str());
    machine.Faults().Clear();
    EXPECT_EQ(InstallMain(nullptr), 1);
    for (const std::string& call : machine.Faults().Calls()) EXPECT_NE(call, "ChangeServiceConfigA");
}

TEST_F(EngineServices, EmptyListLeavesTheDependenciesOfAnExistingServiceAlone) {
    Config old;
    old.imagePath = "C:\\Old\\tessaportwssrv.exe";
    old.dependencies = {"OldDriver"};
    machine.services.AddService(SERVICE, old);
    const std::vector<std::string> empty;
    EXPECT_EQ(InstallMain(&empty), 1);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.dependencies, std::vector<std::string>{"OldDriver"});
}

TEST_F(EngineServices, ExistingServiceIsReconfiguredUnderTheLockAfterItsKeyIsSaved) {
    AddOldService();
    const std::string key = Key(SERVICE);
    // Values of every kind, embedded zeros included, and one the service keeps for itself.
    machine.registry.SetValue(key, "Blob", os::REG_BINARY, Bytes(std::string("\0a\0\xff\0", 5)));
    machine.registry.SetValue(key, "Paths", os::REG_MULTI_SZ, Bytes(std::string("x\0y\0\0", 5)));
    const std::vector<std::string> valueNames = machine.registry.ValueNames(key);

    EXPECT_EQ(InstallMain(&mainDependencies), 1);

    const auto* service = machine.services.Find(SERVICE);
    EXPECT_EQ(service->config.imagePath, SERVICE_IMAGE);
    EXPECT_EQ(service->config.startType, os::SERVICE_AUTO_START);
    EXPECT_EQ(service->config.displayName, SERVICE_DISPLAY);
    EXPECT_EQ(service->config.group, "PlugPlay");
    EXPECT_EQ(service->config.dependencies, mainDependencies);
    EXPECT_EQ(service->config.description, SERVICE_DESCRIPTION);
    EXPECT_EQ(installer->GetJournal().count(SERVICE), 0u);  // not ours to delete
    EXPECT_EQ(machine.services.LockCount(), 1u);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Install Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();

    // Saved from the last value to the first, then the settings the key lacked.
    const auto& saved = installer->GetServiceKeyBackups().at("System\\CurrentControlSet\\Services\\" + SERVICE);
    ASSERT_GE(saved.size(), valueNames.size());
    for (std::size_t i = 0; i < valueNames.size(); ++i) {
        EXPECT_EQ(saved[i].name, valueNames[valueNames.size() - 1 - i]);
        EXPECT_NE(saved[i].type, CInstaller::SAVED_VALUE_ABSENT);
    }
    std::vector<std::string> absent;
    for (std::size_t i = valueNames.size(); i < saved.size(); ++i) {
        EXPECT_EQ(saved[i].type, CInstaller::SAVED_VALUE_ABSENT);
        absent.push_back(saved[i].name);
    }
    EXPECT_EQ(absent, (std::vector<std::string>{"Group", "DependOnService", "DependOnGroup", "Description"}));
}

TEST_F(EngineServices, RollbackWritesEveryValueBackExactlyAndTakesAwayWhatTheChangeAdded) {
    AddOldService();
    const std::string key = Key(SERVICE);
    machine.registry.SetValue(key, "Blob", os::REG_BINARY, Bytes(std::string("\0a\0\xff\0", 5)));
    machine.registry.SetValue(key, "Odd", os::REG_SZ, Bytes(std::string("no terminator")));
    machine.registry.SetValue(key, "Empty", os::REG_NONE, {});
    const auto registryBefore = machine.registry.Snapshot();
    const auto servicesBefore = machine.services.Snapshot();

    ASSERT_EQ(InstallMain(&mainDependencies), 1);
    // The service adds a value of its own while the installation goes on; it stays.
    machine.registry.SetDword(key, "Runtime", 7);
    installer->RestoreServiceKeys();

    EXPECT_EQ(machine.registry.GetDword(key, "Runtime"), 7u);
    machine.registry.DeleteValue(key, "Runtime");
    EXPECT_EQ(machine.registry.Snapshot(), registryBefore);
    EXPECT_TRUE(installer->GetServiceKeyBackups().empty());
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    // The running database takes the old settings at the next start.
    EXPECT_NE(machine.services.Snapshot(), servicesBefore);
    machine.services.Restart();
    EXPECT_EQ(machine.services.Snapshot(), servicesBefore);

    // A second rollback finds nothing to write.
    machine.registry.SetDword(key, "Start", 2);
    installer->RestoreServiceKeys();
    EXPECT_EQ(machine.registry.GetDword(key, "Start"), 2u);
}

TEST_F(EngineServices, InstallingTwiceKeepsTheValuesFromBeforeTheFirstChange) {
    AddOldService();
    const auto registryBefore = machine.registry.Snapshot();
    ASSERT_EQ(InstallMain(&mainDependencies), 1);
    ASSERT_EQ(installer->InstallDriver("C:\\New\\other.sys", SERVICE.c_str(), SERVICE_DISPLAY.c_str(),
                                       os::SERVICE_DEMAND_START),
              1);
    EXPECT_EQ(machine.services.LockCount(), 2u);
    installer->RestoreServiceKeys();
    EXPECT_EQ(machine.registry.Snapshot(), registryBefore);
    EXPECT_EQ(machine.registry.GetString(Key(SERVICE), "ImagePath"), "C:\\Old\\tessaportwssrv.exe");
}

TEST_F(EngineServices, CommitForgetsTheSavedValues) {
    AddOldService();
    ASSERT_EQ(InstallMain(&mainDependencies), 1);
    installer->DiscardBackups();
    installer->RestoreServiceKeys();
    EXPECT_EQ(machine.registry.GetString(Key(SERVICE), "ImagePath"), SERVICE_IMAGE);
}

TEST_F(EngineServices, ReconfiguringARunningServiceNeedsARestart) {
    AddOldService(os::SERVICE_RUNNING);
    EXPECT_EQ(InstallMain(&mainDependencies), 1);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), Line("Install Service: ", SERVICE) + WARNING);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_RUNNING);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.imagePath, SERVICE_IMAGE);
}

TEST_F(EngineServices, FailedChangeReturnsZeroButKeepsTheBackupAndReleasesTheLock) {
    AddOldService(os::SERVICE_RUNNING);
    machine.Faults().FailCall("ChangeServiceConfigA", 1, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallMain(&mainDependencies), 0);
    EXPECT_EQ(Flag(), 0);  // nothing changed, nothing to wait for
    EXPECT_EQ(installer->GetServiceKeyBackups().size(), 1u);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.imagePath, "C:\\Old\\tessaportwssrv.exe");
    // The description is still set, whatever the change returned.
    EXPECT_EQ(machine.services.Find(SERVICE)->config.description, SERVICE_DESCRIPTION);
    EXPECT_EQ(LogText(), Line("Install Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, LockAndDescriptionFailuresAreNoFailures) {
    AddOldService();
    machine.Faults().FailCall("LockServiceDatabase", 1, os::ERROR_SERVICE_DATABASE_LOCKED);
    machine.Faults().FailCall("ChangeServiceConfig2A", 0, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallMain(&mainDependencies), 1);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.imagePath, SERVICE_IMAGE);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.description, "");
    ExpectOnlyTheManagerOpen();

    installer->UninstallService(SERVICE.c_str());
    ASSERT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_EQ(InstallMain(&mainDependencies), 1);  // created, with no description
    EXPECT_EQ(installer->GetJournal().at(SERVICE), JOURNAL_SERVICE);
}

TEST_F(EngineServices, FailedCreationReturnsZeroAndJournalsNothing) {
    machine.Faults().FailCall("CreateServiceA", 0, os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallMain(&mainDependencies), 0);
    EXPECT_EQ(InstallPnpDriver(), 0);
    EXPECT_TRUE(installer->GetJournal().empty());
    EXPECT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_EQ(LogText(), Line("Install Service: ", SERVICE) + Line("Install Driver: ", DRIVER_IMAGE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, AServiceStillMarkedForDeletionIsWaitedForAndMadeAnewOrDeferred) {
    // An uninstallation just before: the service is marked and goes once it has stopped.
    for (const bool refusesOpen : {false, true}) {
        SCOPED_TRACE(refusesOpen ? "Windows that will not open it" : "Windows that opens it");
        machine.services.openRefusesMarked = refusesOpen;
        AddOldService(os::SERVICE_RUNNING);
        {
            os::ServiceHandle manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
            os::ServiceHandle old(os::Services().OpenServiceA(manager.Get(), SERVICE.c_str(), os::SERVICE_ALL_ACCESS));
            ASSERT_TRUE(os::Services().DeleteService(old.Get()));
        }
        ASSERT_TRUE(machine.services.Find(SERVICE)->markedForDelete);
        if (refusesOpen) machine.services.SetState(SERVICE, os::SERVICE_STOPPED);  // it stops on its own
        const os::DWORD slept = machine.kernel.sleptMilliseconds;

        EXPECT_EQ(InstallMain(&mainDependencies), 1);
        const auto* service = machine.services.Find(SERVICE);
        ASSERT_NE(service, nullptr);
        EXPECT_FALSE(service->markedForDelete);
        EXPECT_EQ(service->config.imagePath, SERVICE_IMAGE);
        EXPECT_EQ(service->config.dependencies, mainDependencies);
        EXPECT_EQ(installer->GetJournal().at(SERVICE), JOURNAL_SERVICE);
        EXPECT_TRUE(installer->GetServiceKeyBackups().empty());  // the old key went with it
        EXPECT_TRUE(installer->GetDeferredServices().empty());
        EXPECT_EQ(Flag(), 0);
        EXPECT_LE(machine.kernel.sleptMilliseconds - slept, 10000u);
        ExpectOnlyTheManagerOpen();
        installer->UninstallService(SERVICE.c_str());
        Make();
    }

    // One that does not stop stays marked: nothing is made now, the restart flag says so.
    machine.services.openRefusesMarked = false;
    AddOldService(os::SERVICE_RUNNING).behaviour.acceptsStop = false;
    {
        os::ServiceHandle manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
        os::ServiceHandle old(os::Services().OpenServiceA(manager.Get(), SERVICE.c_str(), os::SERVICE_ALL_ACCESS));
        ASSERT_TRUE(os::Services().DeleteService(old.Get()));
    }
    const os::DWORD slept = machine.kernel.sleptMilliseconds;
    EXPECT_EQ(InstallMain(&mainDependencies), CInstaller::SERVICE_DEFERRED);
    EXPECT_EQ(InstallPnpDriver(), 1);  // other services are not affected
    EXPECT_TRUE(machine.services.Find(SERVICE)->markedForDelete);
    EXPECT_EQ(machine.services.Find(SERVICE)->config.imagePath, "C:\\Old\\tessaportwssrv.exe");
    EXPECT_EQ(installer->GetJournal().count(SERVICE), 0u);
    EXPECT_EQ(installer->GetDeferredServices(), std::vector<std::string>{SERVICE});
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(machine.kernel.sleptMilliseconds - slept, 20u * 500u);  // waited its 10 s, no more
    EXPECT_NE(LogText().find(Line("Warning: Service marked for delete!") + WARNING), std::string::npos);
    ExpectOnlyTheManagerOpen();
}

// ---- kernel drivers ----------------------------------------------------------------------

TEST_F(EngineServices, NewDriverIsAKernelDriverServiceLoggedByItsPath) {
    EXPECT_EQ(InstallPnpDriver(os::SERVICE_DEMAND_START), 1);
    const auto* driver = machine.services.Find(DRIVER);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->config.type, os::SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(driver->config.startType, os::SERVICE_DEMAND_START);
    EXPECT_EQ(driver->config.errorControl, os::SERVICE_ERROR_NORMAL);
    EXPECT_EQ(driver->config.imagePath, DRIVER_IMAGE);
    EXPECT_EQ(driver->config.displayName, DRIVER_DISPLAY);
    EXPECT_EQ(machine.registry.GetDword(Key(DRIVER), "Type"), 1u);
    EXPECT_EQ(installer->GetJournal().at(DRIVER), JOURNAL_SERVICE);
    EXPECT_EQ(LogText(), Line("Install Driver: ", DRIVER_IMAGE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, LoadedDriverIsReconfiguredAndNeedsARestart) {
    Config old;
    old.type = os::SERVICE_KERNEL_DRIVER;
    old.startType = os::SERVICE_SYSTEM_START;
    old.imagePath = DRIVERS + "\\old.sys";
    old.group = "Base";
    machine.services.AddService(DRIVER, old, os::SERVICE_RUNNING);
    const auto registryBefore = machine.registry.Snapshot();

    EXPECT_EQ(InstallPnpDriver(), 1);
    const auto* driver = machine.services.Find(DRIVER);
    EXPECT_EQ(driver->config.imagePath, DRIVER_IMAGE);
    EXPECT_EQ(driver->config.startType, os::SERVICE_AUTO_START);
    EXPECT_EQ(driver->config.group, "Base");  // no group given: left as it was
    EXPECT_EQ(installer->GetJournal().count(DRIVER), 0u);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), Line("Install Driver: ", DRIVER_IMAGE) + WARNING);
    EXPECT_EQ(machine.services.LockCount(), 1u);
    ExpectOnlyTheManagerOpen();

    installer->RestoreServiceKeys();
    EXPECT_EQ(machine.registry.Snapshot(), registryBefore);
}

// ---- existence and state -------------------------------------------------------------------

TEST_F(EngineServices, ExistenceAndRunningStateAreReadWithoutLogging) {
    int marked = -1;
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str(), &marked), 0);
    EXPECT_EQ(marked, -1);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 0);

    AddOldService();
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str(), &marked), 1);
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str()), 1);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 0);
    machine.services.SetState(SERVICE, os::SERVICE_START_PENDING);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 1);

    machine.services.BehaviourOf(SERVICE).deniedAccess = os::SERVICE_STOP;
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str()), 0);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 0);
    EXPECT_EQ(LogText(), "");
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, ServiceMarkedForDeletionCountsAsExisting) {
    AddOldService(os::SERVICE_RUNNING);
    {
        os::ServiceHandle manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS));
        os::ServiceHandle old(os::Services().OpenServiceA(manager.Get(), SERVICE.c_str(), os::SERVICE_ALL_ACCESS));
        ASSERT_TRUE(os::Services().DeleteService(old.Get()));
    }
    int marked = -1;
    // Wine opens such a service; the engine cannot tell it apart.
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str(), &marked), 1);
    EXPECT_EQ(marked, 0);
    machine.services.openRefusesMarked = true;
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str(), &marked), 1);
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str()), 1);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 0);
}

// ---- stopping ------------------------------------------------------------------------------

TEST_F(EngineServices, StoppingWaitsForTheServiceToStop) {
    AddOldService(os::SERVICE_RUNNING).behaviour.stopQueries = 3;
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_STOPPED);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 1500u);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Stop Installed Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, StoppingAStoppedOrMissingServiceIsDoneAtOnce) {
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    AddOldService();
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    EXPECT_EQ(machine.services.Find(SERVICE)->stopControls, 0u);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 0u);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Stop Installed Service: ", SERVICE) + Line("Stop Installed Service: ", SERVICE));
}

TEST_F(EngineServices, AServiceThatNeverStopsIsLeftAfterFortyPolls) {
    AddOldService(os::SERVICE_RUNNING).behaviour.stopQueries = -1;
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 20000u);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_STOP_PENDING);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Stop Installed Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, AFailedStatusQueryEndsThePolling) {
    AddOldService(os::SERVICE_RUNNING).behaviour.stopQueries = -1;
    machine.Faults().FailCall("QueryServiceStatus", 3, os::ERROR_INVALID_HANDLE);
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 1000u);
}

TEST_F(EngineServices, StopFailuresNeedARestart) {
    struct Case {
        const char* what;
        os::DWORD deniedAccess;
        bool acceptsStop;
    };
    for (const Case& c : {Case{"cannot be opened", os::SERVICE_STOP, true}, Case{"refuses the stop", 0, false}}) {
        SCOPED_TRACE(c.what);
        machine.services.AddService(SERVICE, Config{}, os::SERVICE_RUNNING);
        machine.services.BehaviourOf(SERVICE).deniedAccess = c.deniedAccess;
        machine.services.BehaviourOf(SERVICE).acceptsStop = c.acceptsStop;
        installer->SetRebootFlag(nullptr);
        *installer->GetRebootFlag() = 0;
        const std::string logBefore = LogText();

        EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 0);
        EXPECT_EQ(Flag(), 1);
        EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_RUNNING);
        EXPECT_EQ(LogText().substr(logBefore.size()), Line("Stop Installed Service: ", SERVICE) + WARNING);
        ExpectOnlyTheManagerOpen();
    }
}

// ---- starting ------------------------------------------------------------------------------

TEST_F(EngineServices, StartingStartsAndRecords) {
    AddOldService();
    EXPECT_NE(installer->StartInstalledService(SERVICE.c_str()), 0);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_RUNNING);
    EXPECT_EQ(installer->WasServiceStarted(SERVICE.c_str()), 1);
    EXPECT_EQ(installer->GetStartedServices().at(SERVICE), JOURNAL_STARTED_SERVICE);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Start Installed Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, AlreadyRunningServiceIsRecordedButNotStartedAgain) {
    AddOldService(os::SERVICE_RUNNING);
    EXPECT_EQ(installer->StartInstalledService(SERVICE.c_str()), 0);
    EXPECT_EQ(machine.services.Find(SERVICE)->starts, 0u);
    EXPECT_EQ(installer->WasServiceStarted(SERVICE.c_str()), 1);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), Line("Start Installed Service: ", SERVICE) + WARNING);
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, RestartFlagKeepsEveryStartBackButStillRecords) {
    AddOldService();
    Config driver;
    driver.type = os::SERVICE_KERNEL_DRIVER;
    driver.imagePath = DRIVER_IMAGE;
    machine.services.AddService(DRIVER, driver);
    std::int32_t applicationFlag = 1;  // a file was in use earlier
    installer->SetRebootFlag(&applicationFlag);

    EXPECT_EQ(installer->StartInstalledService(DRIVER.c_str()), 0);
    EXPECT_EQ(installer->StartInstalledService(SERVICE.c_str()), 0);
    EXPECT_EQ(machine.services.State(DRIVER), os::SERVICE_STOPPED);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_STOPPED);
    EXPECT_EQ(installer->WasServiceStarted(DRIVER.c_str()), 1);
    EXPECT_EQ(installer->WasServiceStarted(SERVICE.c_str()), 1);
    EXPECT_EQ(LogText(), Line("Start Installed Service: ", DRIVER) + Line("Start Installed Service: ", SERVICE));
    EXPECT_EQ(applicationFlag, 1);
}

TEST_F(EngineServices, StartFailureIsAZeroResultNotAnError) {
    AddOldService().behaviour.startError = os::ERROR_SERVICE_REQUEST_TIMEOUT;
    EXPECT_EQ(installer->StartInstalledService(SERVICE.c_str()), 0);
    EXPECT_EQ(installer->WasServiceStarted(SERVICE.c_str()), 1);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Start Installed Service: ", SERVICE));
}

TEST_F(EngineServices, StartingAServiceThatCannotBeOpenedRaises2175) {
    EXPECT_EQ(RaisedBy([&] { installer->StartInstalledService(SERVICE.c_str()); }),
              (Raised{19, 2175, os::ERROR_SERVICE_DOES_NOT_EXIST}));
    EXPECT_EQ(installer->WasServiceStarted(SERVICE.c_str()), 0);
    EXPECT_EQ(LogText(), Line("Start Installed Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

// ---- without a service manager ----------------------------------------------------------------

TEST_F(EngineServices, WithoutTheServiceManagerNothingIsTouched) {
    AddOldService(os::SERVICE_RUNNING);
    DropManager();

    EXPECT_EQ(installer->ServiceExists(SERVICE.c_str()), 0);
    EXPECT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 0);
    EXPECT_EQ(InstallMain(&mainDependencies), 0);
    EXPECT_EQ(InstallPnpDriver(), 0);
    EXPECT_EQ(LogText(), "");
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 0);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(installer->StopInstalledService(SERVICE.c_str()), 0);
    EXPECT_EQ(Flag(), 1);
    // The code is whatever the last call left: there is no failed call behind this one.
    const auto raised = RaisedBy([&] { installer->StartInstalledService(SERVICE.c_str()); });
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(raised->module, 19u);
    EXPECT_EQ(raised->location, 2168u);
    EXPECT_EQ(LogText(), Line("Uninstall Service: ", SERVICE) + Line("Stop Installed Service: ", SERVICE) + WARNING +
                             Line("Start Installed Service: ", SERVICE));
    EXPECT_EQ(machine.services.OpenHandleCount(), 0u);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_RUNNING);
}

// ---- uninstalling (rollback phase 1) ---------------------------------------------------------

TEST_F(EngineServices, CreatedServicesGoAwayInRollbackPhaseOne) {
    ASSERT_EQ(InstallPnpDriver(), 1);
    ASSERT_EQ(InstallMain(&mainDependencies), 1);
    ASSERT_NE(installer->StartInstalledService(SERVICE.c_str()), 0);  // starts the driver with it
    ASSERT_EQ(machine.services.State(DRIVER), os::SERVICE_RUNNING);
    const std::string logBefore = LogText();

    // Byte order puts the service before the driver it depends on, so the driver can stop.
    installer->UninstallServicesAndDevices();

    EXPECT_FALSE(machine.services.Exists(DRIVER));
    EXPECT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_FALSE(machine.registry.KeyExists(Key(DRIVER)));
    EXPECT_FALSE(machine.registry.KeyExists(Key(SERVICE)));
    EXPECT_EQ(LogText().substr(logBefore.size()),
              Line("Uninstall Service: ", SERVICE) + Line("Uninstall Service: ", DRIVER));
    EXPECT_EQ(Flag(), 0);
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, UninstallingARunningServiceStopsItFirst) {
    AddOldService(os::SERVICE_RUNNING).behaviour.stopQueries = 2;
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 1);
    EXPECT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_FALSE(machine.registry.KeyExists(Key(SERVICE)));
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 1000u);
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Uninstall Service: ", SERVICE));
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, AServiceThatDoesNotStopIsDeletedAfterTwentyPolls) {
    AddOldService(os::SERVICE_RUNNING).behaviour.stopQueries = -1;
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 1);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 10000u);
    // Marked; it goes once it has stopped, at the latest at the restart.
    ASSERT_TRUE(machine.services.Exists(SERVICE));
    EXPECT_TRUE(machine.services.Find(SERVICE)->markedForDelete);
    EXPECT_EQ(LogText(), Line("Uninstall Service: ", SERVICE));
    machine.services.Restart();
    EXPECT_FALSE(machine.services.Exists(SERVICE));
    EXPECT_FALSE(machine.registry.KeyExists(Key(SERVICE)));
}

TEST_F(EngineServices, AServiceThatRefusesToStopIsMarkedAndNeedsARestart) {
    AddOldService(os::SERVICE_RUNNING).behaviour.acceptsStop = false;
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 1);
    EXPECT_TRUE(machine.services.Find(SERVICE)->markedForDelete);
    EXPECT_EQ(machine.services.State(SERVICE), os::SERVICE_RUNNING);
    EXPECT_EQ(machine.kernel.sleptMilliseconds, 0u);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText(), Line("Uninstall Service: ", SERVICE) + "Warning: Service can't be stoped!\r\n" + WARNING);
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, AServiceAlreadyMarkedForDeletionNeedsARestart) {
    AddOldService(os::SERVICE_RUNNING).behaviour.acceptsStop = false;
    ASSERT_EQ(installer->UninstallService(SERVICE.c_str()), 1);
    installer->SetRebootFlag(nullptr);
    *installer->GetRebootFlag() = 0;
    machine.services.BehaviourOf(SERVICE).acceptsStop = true;
    machine.services.BehaviourOf(SERVICE).stopQueries = -1;
    const std::string logBefore = LogText();

    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 1);
    EXPECT_EQ(Flag(), 1);
    EXPECT_EQ(LogText().substr(logBefore.size()),
              Line("Uninstall Service: ", SERVICE) + "Warning: Service marked for delete!\r\n" + WARNING);
    ExpectOnlyTheManagerOpen();
}

TEST_F(EngineServices, UninstallingWhatCannotBeOpenedReturnsZero) {
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 0);
    AddOldService().behaviour.deniedAccess = os::DELETE;
    EXPECT_EQ(installer->UninstallService(SERVICE.c_str()), 0);
    EXPECT_TRUE(machine.services.Exists(SERVICE));
    EXPECT_EQ(Flag(), 0);
    EXPECT_EQ(LogText(), Line("Uninstall Service: ", SERVICE) + Line("Uninstall Service: ", SERVICE));
}

// ---- the whole round ------------------------------------------------------------------------

TEST_F(EngineServices, RollbackReturnsTheMachineToWhereItWas) {
    // An older installation with its service running and its driver stopped.
    AddOldService(os::SERVICE_RUNNING);
    machine.registry.SetValue(Key(SERVICE), "Settings", os::REG_BINARY, Bytes(std::string("\x01\0\x02", 3)));
    const auto registryBefore = machine.registry.Snapshot();
    const auto servicesBefore = machine.services.Snapshot();

    std::int32_t applicationFlag = 0;
    installer->SetRebootFlag(&applicationFlag);
    ASSERT_EQ(installer->IsServiceRunning(SERVICE.c_str()), 1);
    ASSERT_EQ(installer->StopInstalledService(SERVICE.c_str()), 1);
    ASSERT_EQ(InstallPnpDriver(), 1);
    ASSERT_EQ(InstallMain(&mainDependencies), 1);
    ASSERT_NE(installer->StartInstalledService(DRIVER.c_str()), 0);
    ASSERT_NE(installer->StartInstalledService(SERVICE.c_str()), 0);

    // The installation fails later: stop what was started, then phases 1 and 2.
    for (const std::string& name : {SERVICE, DRIVER}) {
        if (installer->WasServiceStarted(name.c_str())) installer->StopInstalledService(name.c_str());
    }
    installer->UninstallServicesAndDevices();
    installer->RestoreServiceKeys();

    EXPECT_EQ(machine.registry.Snapshot(), registryBefore);
    EXPECT_FALSE(machine.services.Exists(DRIVER));
    EXPECT_EQ(applicationFlag, 0);
    installer.reset();
    EXPECT_EQ(machine.services.OpenHandleCount(), 0u);
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    // The old settings are in force after the restart (the old service started on demand).
    machine.services.Restart();
    machine.services.SetState(SERVICE, os::SERVICE_RUNNING);
    EXPECT_EQ(machine.services.Snapshot(), servicesBefore);
}

}  // namespace
