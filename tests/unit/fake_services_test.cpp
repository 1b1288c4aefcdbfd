// The in-memory service database behaves as Windows (and Wine) do where the engine relies on it.
#include "fake/fake_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "fake/fake_registry.h"
#include "platform/constants.h"

namespace {

using os::ServiceHandle;

class FakeServices : public ::testing::Test {
protected:
    FakeServices() : manager(os::Services().OpenSCManagerA(os::SC_MANAGER_ALL_ACCESS)) {
        machine.files.PutFile("C:\\Windows\\system32\\svc.exe", "program");
    }

    os::SC_HANDLE Create(const char* name, os::DWORD startType = os::SERVICE_DEMAND_START,
                         const char* dependencies = nullptr) {
        return os::Services().CreateServiceA(manager.Get(), name, name, os::SERVICE_ALL_ACCESS,
                                             os::SERVICE_WIN32_OWN_PROCESS, startType, os::SERVICE_ERROR_NORMAL,
                                             "C:\\Windows\\system32\\svc.exe", nullptr, nullptr, dependencies, nullptr,
                                             nullptr);
    }
    os::SC_HANDLE Open(const char* name, os::DWORD access = os::SERVICE_ALL_ACCESS) {
        return os::Services().OpenServiceA(manager.Get(), name, access);
    }
    os::DWORD Error() { return os::Kernel().GetLastError(); }
    os::DWORD Query(os::SC_HANDLE service) {
        os::ServiceStatus status;
        return os::Services().QueryServiceStatus(service, &status) ? status.currentState : 0;
    }

    fake::CFakeMachine machine;
    ServiceHandle manager;
    const std::string key = fake::CFakeServices::KeyPath("svc");
};

TEST_F(FakeServices, ErrorsAreThoseOfWindows) {
    ServiceHandle svc(Create("svc"));
    ASSERT_TRUE(svc.IsValid());
    EXPECT_EQ(Create("SVC"), nullptr);
    EXPECT_EQ(Error(), os::ERROR_SERVICE_EXISTS);
    EXPECT_EQ(Open("other"), nullptr);
    EXPECT_EQ(Error(), os::ERROR_SERVICE_DOES_NOT_EXIST);

    os::ServiceStatus status;
    EXPECT_FALSE(os::Services().ControlService(svc.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_NOT_ACTIVE);
    ASSERT_TRUE(os::Services().StartServiceA(svc.Get(), 0, nullptr));
    EXPECT_FALSE(os::Services().StartServiceA(svc.Get(), 0, nullptr));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_ALREADY_RUNNING);

    machine.services.BehaviourOf("svc").acceptsStop = false;
    EXPECT_FALSE(os::Services().ControlService(svc.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Error(), os::ERROR_INVALID_SERVICE_CONTROL);

    machine.services.BehaviourOf("svc").acceptsStop = true;
    machine.services.BehaviourOf("svc").stopQueries = 2;
    ASSERT_TRUE(os::Services().ControlService(svc.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.currentState, os::SERVICE_STOP_PENDING);
    EXPECT_FALSE(os::Services().ControlService(svc.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(Query(svc.Get()), os::SERVICE_STOP_PENDING);
    EXPECT_EQ(Query(svc.Get()), os::SERVICE_STOPPED);

    // Rights the handle was not opened with.
    ServiceHandle queryOnly(Open("svc", os::SERVICE_QUERY_STATUS));
    EXPECT_FALSE(os::Services().StartServiceA(queryOnly.Get(), 0, nullptr));
    EXPECT_EQ(Error(), os::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(os::Services().DeleteService(queryOnly.Get()));
    EXPECT_EQ(Error(), os::ERROR_ACCESS_DENIED);
}

TEST_F(FakeServices, MarkedServiceStaysUntilStoppedAndUnused) {
    {
        ServiceHandle svc(Create("svc"));
        ASSERT_TRUE(os::Services().StartServiceA(svc.Get(), 0, nullptr));
        ASSERT_TRUE(os::Services().DeleteService(svc.Get()));
        EXPECT_EQ(machine.registry.GetDword(key, "DeleteFlag"), 1u);
    }
    ASSERT_TRUE(machine.services.Exists("svc"));
    ServiceHandle again(Open("svc"));
    ASSERT_TRUE(again.IsValid());  // as on Wine
    EXPECT_FALSE(os::Services().DeleteService(again.Get()));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(os::Services().ChangeServiceConfigA(again.Get(), os::SERVICE_NO_CHANGE, os::SERVICE_AUTO_START,
                                                     os::SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Create("svc"), nullptr);
    EXPECT_EQ(Error(), os::ERROR_SERVICE_MARKED_FOR_DELETE);

    os::ServiceStatus status;
    ASSERT_TRUE(os::Services().ControlService(again.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(machine.services.Exists("svc"));  // a handle is still open
    again.Reset();
    EXPECT_FALSE(machine.services.Exists("svc"));
    EXPECT_FALSE(machine.registry.KeyExists(key));
    EXPECT_EQ(machine.services.OpenHandleCount(), 1u);

    machine.services.openRefusesMarked = true;
    ServiceHandle other(Create("other"));
    ASSERT_TRUE(os::Services().StartServiceA(other.Get(), 0, nullptr));
    ASSERT_TRUE(os::Services().DeleteService(other.Get()));
    EXPECT_EQ(Open("other"), nullptr);
    EXPECT_EQ(Error(), os::ERROR_SERVICE_MARKED_FOR_DELETE);
}

TEST_F(FakeServices, KeyFollowsTheConfigurationAndRestartReadsItBack) {
    ServiceHandle svc(Create("svc", os::SERVICE_AUTO_START, "drv\0+Group\0"));
    EXPECT_EQ(machine.registry.GetDword(key, "Start"), 2u);
    EXPECT_EQ(machine.registry.GetValue(key, "ImagePath")->type, os::REG_EXPAND_SZ);
    EXPECT_EQ(machine.registry.GetValue(key, "DependOnService")->data,
              (std::vector<std::uint8_t>{'d', 'r', 'v', 0, 0}));
    EXPECT_EQ(machine.registry.GetValue(key, "DependOnGroup")->data,
              (std::vector<std::uint8_t>{'G', 'r', 'o', 'u', 'p', 0, 0}));
    EXPECT_EQ(machine.registry.GetString(key, "ObjectName"), "LocalSystem");

    // Only what a change names is written.
    machine.registry.SetDword(key, "ErrorControl", 3);
    char text[] = "Described";
    os::ServiceDescription info;
    info.description = text;
    ASSERT_TRUE(os::Services().ChangeServiceConfigA(svc.Get(), os::SERVICE_NO_CHANGE, os::SERVICE_DEMAND_START,
                                                    os::SERVICE_NO_CHANGE, nullptr, "", nullptr, "\0", nullptr, nullptr,
                                                    "Shown"));
    ASSERT_TRUE(os::Services().ChangeServiceConfig2A(svc.Get(), os::SERVICE_CONFIG_DESCRIPTION, &info));
    EXPECT_EQ(machine.registry.GetDword(key, "Start"), 3u);
    EXPECT_EQ(machine.registry.GetDword(key, "ErrorControl"), 3u);
    EXPECT_FALSE(machine.registry.GetValue(key, "DependOnService").has_value());
    EXPECT_EQ(machine.registry.GetString(key, "DisplayName"), "Shown");
    EXPECT_EQ(machine.registry.GetString(key, "Description"), "Described");
    EXPECT_EQ(machine.services.Find("svc")->config.errorControl, os::SERVICE_ERROR_NORMAL);

    // Values written into the key take effect at the next start, as do new keys.
    machine.registry.SetDword(key, "Start", os::SERVICE_AUTO_START);
    machine.registry.SetDword(fake::CFakeServices::KeyPath("added"), "Type", os::SERVICE_KERNEL_DRIVER);
    svc.Reset();
    machine.services.Restart();
    const auto* restarted = machine.services.Find("svc");
    ASSERT_NE(restarted, nullptr);
    EXPECT_EQ(restarted->config.errorControl, 3u);
    EXPECT_EQ(restarted->config.displayName, "Shown");
    EXPECT_EQ(restarted->state, os::SERVICE_RUNNING);
    EXPECT_TRUE(machine.services.Exists("added"));
    EXPECT_EQ(machine.services.State("added"), os::SERVICE_STOPPED);
}

TEST_F(FakeServices, StartNeedsTheProgramAndStartsDependenciesFirst) {
    ServiceHandle drv(Create("drv"));
    ServiceHandle svc(Create("svc", os::SERVICE_DEMAND_START, "drv\0"));
    ASSERT_TRUE(os::Services().StartServiceA(svc.Get(), 0, nullptr));
    EXPECT_EQ(machine.services.State("drv"), os::SERVICE_RUNNING);

    os::ServiceStatus status;
    EXPECT_FALSE(os::Services().ControlService(drv.Get(), os::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Error(), os::ERROR_DEPENDENT_SERVICES_RUNNING);

    ASSERT_TRUE(os::Services().ControlService(svc.Get(), os::SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(os::Services().ControlService(drv.Get(), os::SERVICE_CONTROL_STOP, &status));
    machine.files.Remove("C:\\Windows\\system32\\svc.exe");
    EXPECT_FALSE(os::Services().StartServiceA(drv.Get(), 0, nullptr));
    EXPECT_EQ(Error(), os::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(os::Services().StartServiceA(svc.Get(), 0, nullptr));
    EXPECT_EQ(Error(), os::ERROR_SERVICE_DEPENDENCY_FAIL);
}

TEST_F(FakeServices, DatabaseLockIsOneAtATime) {
    os::SC_LOCK lock = os::Services().LockServiceDatabase(manager.Get());
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(machine.services.IsLocked());
    EXPECT_EQ(os::Services().LockServiceDatabase(manager.Get()), nullptr);
    EXPECT_EQ(Error(), os::ERROR_SERVICE_DATABASE_LOCKED);
    ASSERT_TRUE(os::Services().UnlockServiceDatabase(lock));
    EXPECT_FALSE(os::Services().UnlockServiceDatabase(lock));
    EXPECT_EQ(Error(), os::ERROR_INVALID_SERVICE_LOCK);

    ServiceHandle connectOnly(os::Services().OpenSCManagerA(os::SC_MANAGER_CONNECT));
    EXPECT_EQ(os::Services().LockServiceDatabase(connectOnly.Get()), nullptr);
    EXPECT_EQ(Error(), os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(machine.services.LockCount(), 1u);
}

}  // namespace
