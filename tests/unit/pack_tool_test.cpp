#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "fake/fake_machine.h"
#include "package/packed_tools.h"
#include "package_test_support.h"

using namespace testpkg;

namespace {

TEST(PackEntryList, RefusesWhatCannotBeAPayloadFile) {
    const Bytes one = ToBytes("1");
    EXPECT_EQ(package::CheckEntries({{"a.txt", one}, {"b.txt", one}}), "");
    EXPECT_NE(package::CheckEntries({{"a.txt", {}}}).find("empty"), std::string::npos);
    EXPECT_NE(package::CheckEntries({{"a.txt", one}, {"a.txt", one}}).find("twice"), std::string::npos);
    EXPECT_NE(package::CheckEntries({{"dir\\a.txt", one}}).find("separator"), std::string::npos);
    EXPECT_NE(package::CheckEntries({{"dir/a.txt", one}}).find("separator"), std::string::npos);
    EXPECT_NE(package::CheckEntries({{"C:a.txt", one}}).find("separator"), std::string::npos);
    EXPECT_NE(package::CheckEntries({{"", one}}).find("empty name"), std::string::npos);
    EXPECT_EQ(package::CheckEntries({{std::string(package::MAX_ENTRY_NAME, 'n'), one}}), "");
    EXPECT_NE(package::CheckEntries({{std::string(package::MAX_ENTRY_NAME + 1, 'n'), one}}).find("longer"),
              std::string::npos);
    // Names differing only in case are two entries.
    EXPECT_EQ(package::CheckEntries({{"A.txt", one}, {"a.txt", one}}), "");
    EXPECT_THROW(package::BuildPackage({{"a.txt", {}}}), std::invalid_argument);
}

TEST(PackEntryList, WritesTheLayoutExactly) {
    const Bytes content = MakeContent(20000, 1);
    const Bytes package = package::BuildPackage({{"one.bin", content}}, 0x42);
    EXPECT_EQ(std::string(package.begin(), package.begin() + 31), package::PACKAGE_MAGIC);
    EXPECT_EQ(package[31], 0x42);
    EXPECT_EQ(package[63], 0);
    EXPECT_EQ(package::ReadLe32(&package[64]), package.size() - package::PACKAGE_HEADER_SIZE);
    EXPECT_EQ(package::ReadLe32(&package[68]), 1u);
    const std::uint8_t* entry = &package[package::PACKAGE_HEADER_SIZE];
    EXPECT_EQ(package::ReadLe32(entry + 4), 7u);
    EXPECT_EQ(std::string(entry + 24, entry + 31), "one.bin");
    // Highest compression level: the zlib header bytes 0x78 0xDA.
    EXPECT_EQ(entry[31], 0x78);
    EXPECT_EQ(entry[32], 0xDA);
    EXPECT_EQ(package::ReadLe32(entry) + 24 + 7 + package::PACKAGE_HEADER_SIZE, package.size());
}

// The command-line tool, run as the build runs it.
class PackTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tsport_pack_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        Write("image.exe", FakeImage(5000));
        Write("a.txt", ToBytes("alpha"));
        Write("b.bin", MakeContent(70000, 2));
        Write("empty.txt", {});
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void Write(const std::string& name, const Bytes& bytes) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Runs the tool; returns its exit status and keeps its error output.
    int Run(const std::string& entries) {
        const std::string command = std::string(TSP_PACK_TOOL) + " --image '" + dir + "/image.exe' --output '" + dir +
                                    "/out.exe' " + entries + " >'" + dir + "/stdout' 2>'" + dir + "/stderr'";
        const int status = std::system(command.c_str());
        const Bytes err = Read("stderr");
        errors.assign(err.begin(), err.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool OutputExists() { return access((dir + "/out.exe").c_str(), F_OK) == 0; }

    std::string dir;
    std::string errors;
};

TEST_F(PackTool, AppendsALoadablePackageRightBehindTheImage) {
    ASSERT_EQ(Run("a.txt='" + dir + "/a.txt' b.bin='" + dir + "/b.bin'"), 0) << errors;
    const Bytes image = Read("image.exe");
    const Bytes out = Read("out.exe");
    ASSERT_GT(out.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), out.begin()));
    EXPECT_EQ(package::FindPackageHeader(out.data(), out.size()), out.data() + image.size());

    fake::CFakeMachine machine;
    machine.files.PutFile(machine.kernel.modulePath, out);
    CPackedTools tools;
    ASSERT_EQ(tools.LoadFromSelf(), 1);
    const std::uint8_t* content = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(tools.FindFile("b.bin", &content, &size), 1);
    EXPECT_EQ(Bytes(content, content + size), MakeContent(70000, 2));
}

TEST_F(PackTool, RefusesBadInputWithAMessageAndNoOutput) {
    const std::string a = "'" + dir + "/a.txt'";
    const struct {
        std::string entries;
        std::string message;
    } cases[] = {
        {"e.txt='" + dir + "/empty.txt'", "empty"},
        {"a.txt=" + a + " a.txt=" + a, "twice"},
        {"sub\\\\a.txt=" + a, "separator"},
        {"sub/a.txt=" + a, "separator"},
        {std::string(300, 'x') + "=" + a, "longer"},
        {"m.txt='" + dir + "/missing.txt'", "cannot read"},
        {"no-equals-sign", "NAME=FILE"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(Run(c.entries), 0) << c.entries;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.entries << ": " << errors;
        EXPECT_FALSE(OutputExists()) << c.entries;
    }
}

}  // namespace
