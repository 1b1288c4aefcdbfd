// The Win32 side of the platform seam on a real machine (Wine in the tests): the calls
// the engine relies on behave as the in-memory machine models them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

using namespace os;

namespace {

class Win32Seam : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseWin32(); }

    void SetUp() override {
        char temp[MAX_PATH];
        const DWORD n = Kernel().GetTempPathA(sizeof temp, temp);
        ASSERT_GT(n, 0u);
        ASSERT_LT(n, sizeof temp);
        dir = std::string(temp) + "tsport_seam_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Files().CreateDirectoryA(dir.c_str(), nullptr);
    }

    std::string Path(const char* name) const { return dir + "\\" + name; }

    void WriteFile(const std::string& path, const std::string& text) {
        KernelHandle file(Files().CreateFileA(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(file.IsValid()) << path << " error " << Kernel().GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(Files().WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written));
        ASSERT_EQ(written, text.size());
    }

    std::string ReadFile(const std::string& path) {
        KernelHandle file(Files().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL));
        if (!file.IsValid()) return "<missing>";
        std::string text(Files().GetFileSize(file.Get()), '\0');
        DWORD read = 0;
        Files().ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read);
        text.resize(read);
        return text;
    }

    std::string dir;
};

TEST_F(Win32Seam, FileHeldWithoutSharingRefusesWritersAndDeletion) {
    const std::string path = Path("held.bin");
    WriteFile(path, "original");
    KernelHandle holder(Files().CreateFileA(path.c_str(), GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(holder.IsValid());

    EXPECT_FALSE(Files().CreateFileA(path.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL) !=
                 InvalidHandle());
    EXPECT_EQ(Kernel().GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(Files().DeleteFileA(path.c_str()));
    EXPECT_EQ(Kernel().GetLastError(), ERROR_SHARING_VIOLATION);
    WriteFile(Path("other.bin"), "other");
    EXPECT_FALSE(Files().CopyFileA(Path("other.bin").c_str(), path.c_str(), 0));
    EXPECT_EQ(Kernel().GetLastError(), ERROR_SHARING_VIOLATION);
    // A copy from the held file fails too: it was opened without read sharing.
    EXPECT_FALSE(Files().CopyFileA(path.c_str(), Path("copy.bin").c_str(), 1));

    holder.Reset();
    EXPECT_TRUE(Files().CopyFileA(path.c_str(), Path("copy.bin").c_str(), 1));
    EXPECT_FALSE(Files().CopyFileA(path.c_str(), Path("copy.bin").c_str(), 1));
    EXPECT_EQ(Kernel().GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadFile(Path("copy.bin")), "original");
    EXPECT_TRUE(Files().DeleteFileA(path.c_str()));
}

TEST_F(Win32Seam, WriteTruncateFindAndDirectories) {
    const std::string path = Path("data.bin");
    WriteFile(path, std::string("abc\0def", 7));
    {
        KernelHandle file(Files().CreateFileA(path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(file.IsValid());
        EXPECT_EQ(Files().SetFilePointer(file.Get(), 2, FILE_BEGIN), 2u);
        EXPECT_TRUE(Files().SetEndOfFile(file.Get()));
        EXPECT_TRUE(Files().FlushFileBuffers(file.Get()));
    }
    EXPECT_EQ(ReadFile(path), "ab");
    FindData found;
    FindHandle find(Files().FindFirstFileA(path.c_str(), &found));
    ASSERT_TRUE(find.IsValid());
    EXPECT_EQ(found.sizeLow, 2u);
    EXPECT_STREQ(found.name, "data.bin");
    EXPECT_FALSE(Files().FindFirstFileA(Path("absent.bin").c_str(), &found) != InvalidHandle());

    const std::string sub = Path("sub");
    EXPECT_TRUE(Files().CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_FALSE(Files().CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_EQ(Kernel().GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(Files().CreateDirectoryA((sub + "\\missing\\leaf").c_str(), nullptr));
    EXPECT_EQ(Kernel().GetLastError(), ERROR_PATH_NOT_FOUND);
    WriteFile(sub + "\\inside.txt", "x");
    EXPECT_FALSE(Files().RemoveDirectoryA(sub.c_str()));
    EXPECT_TRUE(Files().DeleteFileA((sub + "\\inside.txt").c_str()));
    EXPECT_TRUE(Files().RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(Files().GetFileAttributesA(sub.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Where the restart-time operations are recorded, so tests can look for them.
std::vector<std::string> PendingRenames() {
    RegKey key;
    std::vector<std::string> out;
    if (Registry().RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                                 KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return out;
    }
    DWORD type = 0, size = 0;
    if (Registry().RegQueryValueExA(key.Get(), "PendingFileRenameOperations", &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return out;
    }
    std::vector<BYTE> data(size + 2, 0);
    if (Registry().RegQueryValueExA(key.Get(), "PendingFileRenameOperations", &type, data.data(), &size) !=
        ERROR_SUCCESS) {
        return out;
    }
    // A multi-string, read as wide or single-byte text, whichever it is.
    std::string current;
    const bool wide = size >= 4 && data[1] == 0;
    for (DWORD i = 0; i < size; i += wide ? 2 : 1) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return out;
}

bool Contains(const std::vector<std::string>& list, const std::string& suffix) {
    for (const std::string& s : list) {
        if (s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0) return true;
    }
    return false;
}

TEST_F(Win32Seam, DelayedMovesAreRegisteredForTheNextStart) {
    const std::string from = Path("new.tmp");
    const std::string to = Path("target.sys");
    WriteFile(from, "new");
    WriteFile(to, "old");
    ASSERT_TRUE(Files().MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(Files().MoveFileExA(Path("target.sys").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // Nothing moves now.
    EXPECT_EQ(ReadFile(to), "old");
    EXPECT_EQ(ReadFile(from), "new");
    const std::vector<std::string> pending = PendingRenames();
    for (const std::string& s : pending) std::printf("pending: [%s]\n", s.c_str());
    EXPECT_TRUE(Contains(pending, "new.tmp")) << "the source is recorded";
    EXPECT_TRUE(Contains(pending, "target.sys")) << "the destination is recorded";
}

TEST_F(Win32Seam, RegistryKeepsEveryTypeByteForByte) {
    const char* path = "Software\\TessaportSeamTest";
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(Registry().RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         key.Receive(), &disposition),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

    const std::string text("two\0parts", 10);  // with its terminator
    const BYTE binary[] = {0, 1, 0, 0, 2, 0};
    const DWORD number = 0x5050;
    ASSERT_EQ(Registry().RegSetValueExA(key.Get(), "Text", REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                        static_cast<DWORD>(text.size())),
              static_cast<LONG>(ERROR_SUCCESS));
    ASSERT_EQ(Registry().RegSetValueExA(key.Get(), "Binary", REG_BINARY, binary, sizeof binary),
              static_cast<LONG>(ERROR_SUCCESS));
    ASSERT_EQ(Registry().RegSetValueExA(key.Get(), "Number", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              static_cast<LONG>(ERROR_SUCCESS));

    DWORD values = 0, longestName = 0, longestValue = 0;
    ASSERT_EQ(Registry().RegQueryInfoKeyA(key.Get(), nullptr, nullptr, &values, &longestName, &longestValue),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(longestName, 6u);
    // The ANSI call reports the stored (wide) size of strings: an upper bound, as on Windows.
    EXPECT_GE(longestValue, 10u);

    // Read back through enumeration, as a service key backup does.
    int seen = 0;
    for (DWORD i = 0; i < values; ++i) {
        char name[32];
        DWORD nameSize = sizeof name, type = 0, size = 64;
        BYTE data[64];
        ASSERT_EQ(Registry().RegEnumValueA(key.Get(), i, name, &nameSize, &type, data, &size),
                  static_cast<LONG>(ERROR_SUCCESS));
        const std::string got(reinterpret_cast<char*>(data), size);
        if (std::strcmp(name, "Text") == 0) {
            EXPECT_EQ(type, REG_SZ);
            EXPECT_EQ(got, text);
            ++seen;
        } else if (std::strcmp(name, "Binary") == 0) {
            EXPECT_EQ(type, REG_BINARY);
            EXPECT_EQ(got, std::string(reinterpret_cast<const char*>(binary), sizeof binary));
            ++seen;
        } else if (std::strcmp(name, "Number") == 0) {
            EXPECT_EQ(type, REG_DWORD);
            EXPECT_EQ(size, 4u);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 3);
    DWORD index = values;
    char name[32];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(Registry().RegEnumValueA(key.Get(), index, name, &nameSize, nullptr, nullptr, nullptr),
              static_cast<LONG>(ERROR_NO_MORE_ITEMS));

    // Size first, then a short buffer.
    DWORD size = 0;
    EXPECT_EQ(Registry().RegQueryValueExA(key.Get(), "Binary", nullptr, nullptr, &size),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(size, sizeof binary);
    BYTE small[2];
    size = sizeof small;
    EXPECT_EQ(Registry().RegQueryValueExA(key.Get(), "Binary", nullptr, small, &size),
              static_cast<LONG>(ERROR_MORE_DATA));

    EXPECT_EQ(Registry().RegDeleteValueA(key.Get(), "Binary"), static_cast<LONG>(ERROR_SUCCESS));
    key.Reset();
    EXPECT_EQ(Registry().RegDeleteKeyA(HKEY_LOCAL_MACHINE, path), static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_NE(Registry().RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, KEY_READ, key.Receive()),
              static_cast<LONG>(ERROR_SUCCESS));
}

TEST_F(Win32Seam, TokenHoldsTheAdministratorsGroup) {
    KernelHandle token;
    ASSERT_TRUE(Security().OpenProcessToken(TOKEN_QUERY, token.Receive()));
    std::vector<BYTE> buffer(65536);
    DWORD needed = 0;
    ASSERT_TRUE(Security().GetTokenGroups(token.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
    const DWORD subs[] = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS};
    PSID admins = nullptr;
    ASSERT_TRUE(Security().AllocateAndInitializeSid(SECURITY_NT_AUTHORITY, 2, subs, &admins));
    const auto* groups = reinterpret_cast<const TokenGroups*>(buffer.data());
    bool found = false;
    for (DWORD i = 0; i < groups->groupCount; ++i) found = found || Security().EqualSid(groups->groups[i].sid, admins);
    Security().FreeSid(admins);
    EXPECT_TRUE(found);
}

TEST_F(Win32Seam, MachineFacts) {
    OsVersion version;
    ASSERT_TRUE(Kernel().GetVersionExA(&version));
    EXPECT_GE(version.major, 5u);
    EXPECT_NE(version.productType, 0);
    char windows[MAX_PATH];
    const DWORD n = Kernel().GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::strlen(windows), n);
    char own[MAX_PATH];
    EXPECT_GT(Kernel().GetModuleFileNameA(own, sizeof own), 0u);
    void* block = Kernel().VirtualAlloc(1 << 20);
    ASSERT_NE(block, nullptr);
    static_cast<char*>(block)[(1 << 20) - 1] = 1;
    EXPECT_TRUE(Kernel().VirtualFree(block));
    ServiceHandle manager(Services().OpenSCManagerA(SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(manager.IsValid());
    BYTE random[2][16] = {};
    ASSERT_TRUE(Kernel().GenRandom(random[0], 16));
    ASSERT_TRUE(Kernel().GenRandom(random[1], 16));
    EXPECT_NE(std::memcmp(random[0], random[1], 16), 0);
}

}  // namespace
