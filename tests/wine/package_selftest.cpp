// Loads the package appended to this very program and checks its table against the
// files the build packed (see selftest_payload.cmake). Exit code 0 when all is well.
#include <cstdio>
#include <cstring>
#include <string>

#include "package/packed_tools.h"
#include "platform/win32/win32_platform.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

std::string Pattern(const std::string& line, std::size_t size) {
    std::string text;
    while (text.size() < size) text += line;
    text.resize(size);
    return text;
}

void CheckEntry(const CPackedTools& tools, const char* name, const std::string& expected) {
    const std::uint8_t* content = nullptr;
    std::uint32_t size = 0;
    const bool found = tools.FindFile(name, &content, &size) == 1;
    const std::string what = std::string("entry ") + name;
    Check(found && size == expected.size() && std::memcmp(content, expected.data(), size) == 0, what.c_str());
}

}  // namespace

int main() {
    os::UseWin32();
    CPackedTools tools;
    Check(tools.GetStatus() == PACK_OK, "reader constructed");
    Check(tools.LoadFromSelf() == 1, "LoadFromSelf returns 1");
    Check(tools.GetStatus() == PACK_OK, "status PACK_OK");
    Check(tools.GetFileCount() == 4, "four entries");
    CheckEntry(tools, "hello.txt", Pattern("Hello from the package.\n", 24));
    CheckEntry(tools, "large.bin", Pattern("0123456789abcdefghijklmnopqrstuvwxyz-large\n", 40000));
    CheckEntry(tools, "exact.bin", Pattern("exactly two chunks|", 32768));
    CheckEntry(tools, "Readme.txt", Pattern("Case matters.\n", 14));
    Check(tools.FindFile("readme.txt", nullptr, nullptr) == 0, "lookup is case-sensitive");

    // A second load of the same file while this process runs it: the own file is opened
    // with read and write sharing.
    CPackedTools again;
    Check(again.LoadFromSelf() == 1 && again.GetFileCount() == 4, "second reader loads too");

    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
