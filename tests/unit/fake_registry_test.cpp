#include <gtest/gtest.h>

#include <cstring>

#include "fake/fake_machine.h"
#include "fake/fake_registry.h"
#include "platform/constants.h"

using namespace os;

namespace {

constexpr const char* APP_KEY = "Software\\Vendor\\App";

class FakeRegistry : public ::testing::Test {
protected:
    fake::CFakeMachine machine;
    fake::CFakeRegistry& registry = machine.registry;
    IRegistry& seam = Registry();
};

TEST_F(FakeRegistry, CreateReportsDispositionAndNamesIgnoreCase) {
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(seam.RegCreateKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   key.Receive(), &disposition),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const BYTE data[] = {'a', 0, 'b', 0, 0};
    ASSERT_EQ(seam.RegSetValueExA(key.Get(), "Mixed", REG_BINARY, data, sizeof data),
              static_cast<LONG>(ERROR_SUCCESS));

    RegKey again;
    ASSERT_EQ(seam.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\vendor\\APP", REG_OPTION_NON_VOLATILE, KEY_READ,
                                   again.Receive(), &disposition),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD type = 0, size = sizeof data;
    BYTE out[sizeof data] = {};
    ASSERT_EQ(seam.RegQueryValueExA(again.Get(), "MIXED", &type, out, &size), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, sizeof data);
    EXPECT_EQ(std::memcmp(out, data, sizeof data), 0);  // embedded zeros kept

    const auto stored = registry.GetValue("HKEY_LOCAL_MACHINE\\software\\Vendor\\App", "mixed");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data, std::vector<std::uint8_t>(data, data + sizeof data));
    EXPECT_EQ(registry.OpenKeyCount(), 2u);
    key.Reset();
    again.Reset();
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(FakeRegistry, QueryAsksSizeAndShortBufferGetsMoreData) {
    registry.SetString("HKLM\\Software\\Vendor\\App", "Path", "C:\\Program Files\\App");
    RegKey key;
    ASSERT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, KEY_QUERY_VALUE, key.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
    DWORD size = 0;
    ASSERT_EQ(seam.RegQueryValueExA(key.Get(), "Path", nullptr, nullptr, &size), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(size, 21u);  // with the terminator
    char small[8] = {};
    size = sizeof small;
    EXPECT_EQ(seam.RegQueryValueExA(key.Get(), "Path", nullptr, reinterpret_cast<BYTE*>(small), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 21u);
    EXPECT_EQ(seam.RegQueryValueExA(key.Get(), "Missing", nullptr, nullptr, &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FakeRegistry, AccessOfTheHandleIsEnforced) {
    registry.CreateKey("HKLM\\Software\\Vendor\\App");
    RegKey readOnly;
    ASSERT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, KEY_READ, readOnly.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
    const BYTE one = 1;
    EXPECT_EQ(seam.RegSetValueExA(readOnly.Get(), "X", REG_BINARY, &one, 1), static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(seam.RegDeleteValueA(readOnly.Get(), "X"), static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(registry.GetValue("HKLM\\Software\\Vendor\\App", "X").has_value());
}

TEST_F(FakeRegistry, StandardUserCannotOpenForWriting) {
    registry.SetDword("HKLM\\Software\\Vendor\\App\\Sub", "Level", 7);
    registry.DenyWrite("HKLM\\Software\\Vendor");
    const auto before = registry.Snapshot();
    RegKey key;
    EXPECT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Sub", KEY_ALL_ACCESS, key.Receive()),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(key.Get(), nullptr);
    EXPECT_EQ(seam.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\New", REG_OPTION_NON_VOLATILE, KEY_READ,
                                   key.Receive(), nullptr),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(seam.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Sub"),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Sub", KEY_READ, key.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(registry.Snapshot(), before);
}

TEST_F(FakeRegistry, EnumerationEndsWithNoMoreItems) {
    registry.SetString("HKLM\\Software\\Vendor\\App", "First", "1");
    registry.SetDword("HKLM\\Software\\Vendor\\App", "Second", 2);
    registry.CreateKey("HKLM\\Software\\Vendor\\App\\beta");
    registry.CreateKey("HKLM\\Software\\Vendor\\App\\Alpha");
    RegKey key;
    ASSERT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, KEY_READ, key.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
    DWORD subKeys = 0, maxKey = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(seam.RegQueryInfoKeyA(key.Get(), &subKeys, &maxKey, &values, &maxName, &maxData),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxKey, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 6u);
    EXPECT_EQ(maxData, 4u);

    char name[16];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(seam.RegEnumKeyExA(key.Get(), 0, name, &nameSize), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_STREQ(name, "Alpha");
    EXPECT_EQ(nameSize, 5u);
    nameSize = sizeof name;
    EXPECT_EQ(seam.RegEnumKeyExA(key.Get(), 2, name, &nameSize), static_cast<LONG>(ERROR_NO_MORE_ITEMS));

    nameSize = sizeof name;
    DWORD type = 0, dataSize = 0;
    ASSERT_EQ(seam.RegEnumValueA(key.Get(), 1, name, &nameSize, &type, nullptr, &dataSize),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_STREQ(name, "Second");
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(dataSize, 4u);
    nameSize = 3;
    EXPECT_EQ(seam.RegEnumValueA(key.Get(), 0, name, &nameSize, nullptr, nullptr, nullptr),
              static_cast<LONG>(ERROR_MORE_DATA));
    nameSize = sizeof name;
    EXPECT_EQ(seam.RegEnumValueA(key.Get(), 2, name, &nameSize, nullptr, nullptr, nullptr),
              static_cast<LONG>(ERROR_NO_MORE_ITEMS));
}

TEST_F(FakeRegistry, DeleteKeyRefusesSubkeysAndOpenHandlesSeeItGone) {
    registry.CreateKey("HKLM\\Software\\Vendor\\App\\Sub");
    EXPECT_EQ(seam.RegDeleteKeyA(HKEY_LOCAL_MACHINE, APP_KEY), static_cast<LONG>(ERROR_ACCESS_DENIED));
    RegKey sub;
    ASSERT_EQ(seam.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\Sub", KEY_READ, sub.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(seam.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\App\\SUB"), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_FALSE(registry.KeyExists("HKLM\\Software\\Vendor\\App\\Sub"));
    EXPECT_TRUE(registry.KeyExists("HKLM\\Software\\Vendor\\App"));
    DWORD size = 0;
    EXPECT_NE(seam.RegQueryValueExA(sub.Get(), "X", nullptr, nullptr, &size), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(seam.RegCloseKey(sub.Release()), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(seam.RegCloseKey(reinterpret_cast<HKEY>(0x1234)), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(FakeRegistry, PlannedFaultIsReturnedAndChangesNothing) {
    const auto before = registry.Snapshot();
    machine.Faults().FailCall("RegCreateKeyExA", 1, ERROR_ACCESS_DENIED);
    RegKey key;
    EXPECT_EQ(seam.RegCreateKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   key.Receive(), nullptr),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(key.Get(), nullptr);
    EXPECT_EQ(registry.Snapshot(), before);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
    // Only the first call was planned to fail.
    EXPECT_EQ(seam.RegCreateKeyExA(HKEY_LOCAL_MACHINE, APP_KEY, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   key.Receive(), nullptr),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_NE(registry.Snapshot(), before);
}

}  // namespace
