#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "install_process_test_support.h"
#include "pack/edition_check.h"
#include "package/packed_tools.h"
#include "package_test_support.h"
#include "product/package_contents.h"
#include "product/server/server_edition.h"
#include "product/workstation/workstation_edition.h"

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

    // A release folder for the edition: each entry except uninstall.exe, which is given
    // from elsewhere, as the build gives it.
    void WriteReleaseFolder(const PackageContents& edition) {
        ASSERT_EQ(mkdir((dir + "/rel").c_str(), 0755), 0);
        for (const char* name : edition.entries) {
            if (std::string(name) != "uninstall.exe") Write(std::string("rel/") + name, ToBytes(name));
        }
        Write("uninstall.exe", ToBytes("built uninstaller"));
    }
    std::string ReleaseArgs(const char* edition) {
        return std::string("--edition ") + edition + " --folder '" + dir + "/rel' uninstall.exe='" + dir +
               "/uninstall.exe'";
    }
    std::vector<std::string> ErrorLines() {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = errors.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(errors.substr(start, end - start));
        }
        return lines;
    }

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
        return RunTool("--image '" + dir + "/image.exe' --output '" + dir + "/out.exe' " + entries);
    }
    int RunTool(const std::string& arguments) {
        const std::string command =
            std::string(TSP_PACK_TOOL) + " " + arguments + " >'" + dir + "/stdout' 2>'" + dir + "/stderr'";
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

// ---- the edition check ----

const PackageContents& Workstation() { return *FindPackageContents("workstation"); }
const PackageContents& Server() { return *FindPackageContents("server"); }

// The edition's entries as files of a folder "rel", each one byte or more.
std::vector<package::EntrySource> ExactSources(const PackageContents& edition) {
    std::vector<package::EntrySource> sources;
    for (const char* name : edition.entries) sources.push_back({name, std::string("rel/") + name, 10});
    return sources;
}

TEST(EditionCheck, AcceptsExactlyTheEditionsEntriesInAnyOrder) {
    for (const PackageContents* edition : {&Workstation(), &Server()}) {
        std::vector<package::EntrySource> sources = ExactSources(*edition);
        EXPECT_EQ(package::CheckEditionEntries(*edition, sources), std::vector<std::string>()) << edition->edition;
        std::reverse(sources.begin(), sources.end());
        EXPECT_EQ(package::CheckEditionEntries(*edition, sources), std::vector<std::string>()) << edition->edition;
    }
    // Each edition's files are wrong for the other one.
    EXPECT_FALSE(package::CheckEditionEntries(Server(), ExactSources(Workstation())).empty());
    EXPECT_FALSE(package::CheckEditionEntries(Workstation(), ExactSources(Server())).empty());
}

TEST(EditionCheck, NamesEachProblemOnALineOfItsOwn) {
    using Sources = std::vector<package::EntrySource>;
    // Each case changes the workstation's exact list.
    const struct {
        const char* what;
        void (*change)(Sources&);
        std::vector<std::string> lines;
    } cases[] = {
        {"missing entry",
         [](Sources& s) { s.erase(s.begin() + 5); },  // readme.txt
         {"the workstation package lacks \"readme.txt\""}},
        {"unknown file",
         [](Sources& s) { s.push_back({"notes.txt", "rel/notes.txt", 3}); },
         {"\"notes.txt\" (rel/notes.txt) is not an entry of the workstation package"}},
        {"the other edition's file",
         [](Sources& s) { s.push_back({"tspvdbus.sys", "rel/tspvdbus.sys", 3}); },
         {"\"tspvdbus.sys\" (rel/tspvdbus.sys) is not an entry of the workstation package"}},
        {"letter case only",
         [](Sources& s) { s[5].name = "ReadMe.TXT"; },
         {"\"ReadMe.TXT\" (rel/readme.txt) differs only in letter case from the entry \"readme.txt\""}},
        {"empty file",
         [](Sources& s) { s[6].size = 0; },
         {"\"uninstall.exe\" (rel/uninstall.exe) is empty"}},
        {"given twice",
         [](Sources& s) { s.push_back({"uninstall.exe", "build/uninstall.exe", 9}); },
         {"\"uninstall.exe\" is given twice: rel/uninstall.exe and build/uninstall.exe"}},
        {"several at once, in the order given, then what is missing",
         [](Sources& s) {
             s.erase(s.begin() + 19);                   // usblibxp
             s.erase(s.begin());                        // tessaportwssrv.exe
             s[0].size = 0;                             // tessaportws.exe
             s.push_back({"USBLIBXP", "rel/USBLIBXP", 0});
             s.push_back({"desktop.ini", "rel/desktop.ini", 1});
         },
         {"\"tessaportws.exe\" (rel/tessaportws.exe) is empty",
          "\"USBLIBXP\" (rel/USBLIBXP) differs only in letter case from the entry \"usblibxp\"",
          "\"USBLIBXP\" (rel/USBLIBXP) is empty",
          "\"desktop.ini\" (rel/desktop.ini) is not an entry of the workstation package",
          "the workstation package lacks \"tessaportwssrv.exe\""}},
    };
    for (const auto& c : cases) {
        Sources sources = ExactSources(Workstation());
        c.change(sources);
        EXPECT_EQ(package::CheckEditionEntries(Workstation(), sources), c.lines) << c.what;
    }
}

// The installers look entries up by exact name: every name an edition's tables use is in
// its package, and the install tests carry exactly the package's entries.
TEST(EditionCheck, PackageTableHoldsWhatTheInstallersUse) {
    const struct {
        const PackageContents& contents;
        const CEdition& edition;
        installtest::Edition test;
    } editions[] = {{Workstation(), WorkstationEdition(), installtest::Edition::Workstation},
                    {Server(), ServerEdition(), installtest::Edition::Server}};
    for (const auto& e : editions) {
        const std::set<std::string> table(e.contents.entries.begin(), e.contents.entries.end());
        EXPECT_EQ(table.size(), e.contents.entries.size()) << e.contents.edition << ": a name occurs twice";
        const EditionInfo& info = e.edition.Info();
        std::vector<const char*> used = {info.programName, info.licenseRtfEntry, info.serviceProgramName,
                                         info.uninstallerName};
        for (const EditionFile& file : info.files) used.push_back(file.entry);
        for (const EditionDriverPackage& package : info.driverPackages) used.push_back(package.inf);
        for (const char* name : used) EXPECT_EQ(table.count(name), 1u) << e.contents.edition << ": " << name;

        std::set<std::string> tested;
        for (const package::PackEntry& entry : installtest::PackageEntries(e.test)) tested.insert(entry.name);
        EXPECT_EQ(tested, table) << e.contents.edition;
    }
}

TEST_F(PackTool, PacksAReleaseFolderInTheStoredOrder) {
    for (const PackageContents* edition : {&Workstation(), &Server()}) {
        std::system(("rm -rf '" + dir + "/rel'").c_str());
        WriteReleaseFolder(*edition);
        ASSERT_EQ(Run(ReleaseArgs(edition->edition)), 0) << errors;
        const Bytes out = Read("out.exe");
        const std::uint8_t* header = package::FindPackageHeader(out.data(), out.size());
        ASSERT_EQ(header, out.data() + Read("image.exe").size());
        // Walk the entries as stored.
        const std::uint8_t* entry = header + package::PACKAGE_HEADER_SIZE;
        std::vector<std::string> stored;
        for (std::uint32_t i = 0; i < package::ReadLe32(header + package::PACKAGE_ENTRY_COUNT_OFFSET); ++i) {
            ASSERT_LE(entry + package::ENTRY_HEADER_SIZE, out.data() + out.size());
            const std::uint32_t nameLength = package::ReadLe32(entry + package::ENTRY_NAME_LENGTH_OFFSET);
            const std::uint8_t* name = entry + package::ENTRY_HEADER_SIZE;
            stored.emplace_back(name, name + nameLength);
            entry = name + nameLength + package::ReadLe32(entry + package::ENTRY_PACKED_SIZE_OFFSET);
        }
        EXPECT_EQ(entry, out.data() + out.size());
        EXPECT_EQ(stored, std::vector<std::string>(edition->entries.begin(), edition->entries.end()));

        fake::CFakeMachine machine;
        machine.files.PutFile(machine.kernel.modulePath, out);
        CPackedTools tools;
        ASSERT_EQ(tools.LoadFromSelf(), 1);
        const std::uint8_t* content = nullptr;
        std::uint32_t size = 0;
        ASSERT_EQ(tools.FindFile("uninstall.exe", &content, &size), 1);
        EXPECT_EQ(Bytes(content, content + size), ToBytes("built uninstaller"));
        ASSERT_EQ(tools.FindFile("readme.txt", &content, &size), 1);
        EXPECT_EQ(Bytes(content, content + size), ToBytes("readme.txt"));
    }
}

TEST_F(PackTool, RefusesAReleaseFolderThatIsNotTheEditionsAndWritesNothing) {
    const struct {
        const char* what;
        std::string shell;  // run in the release folder
        std::vector<std::string> lines;
    } cases[] = {
        {"missing", "rm tspvd.inf", {"the workstation package lacks \"tspvd.inf\""}},
        {"unknown", "echo x >Thumbs.db", {"\"Thumbs.db\" (REL/Thumbs.db) is not an entry of the workstation package"}},
        {"case", "mv tspvd.inf TSPVD.inf",
         {"\"TSPVD.inf\" (REL/TSPVD.inf) differs only in letter case from the entry \"tspvd.inf\""}},
        {"empty", ": >readme.txt", {"\"readme.txt\" (REL/readme.txt) is empty"}},
        {"folder", "mkdir drivers", {"\"REL/drivers\" is not a file; a package holds only files"}},
        {"uninstaller in the folder too", "echo x >uninstall.exe",
         {"\"uninstall.exe\" is given twice: REL/uninstall.exe and DIR/uninstall.exe"}},
        {"a link to nothing", "rm usblibxp && ln -s nowhere usblibxp",
         {"\"REL/usblibxp\" is not a file; a package holds only files", "the workstation package lacks \"usblibxp\""}},
    };
    for (const auto& c : cases) {
        std::system(("rm -rf '" + dir + "/rel'").c_str());
        WriteReleaseFolder(Workstation());
        ASSERT_EQ(std::system(("cd '" + dir + "/rel' && " + c.shell).c_str()), 0) << c.shell;
        std::vector<std::string> expected;
        for (std::string line : c.lines) {
            for (std::size_t at; (at = line.find("REL")) != std::string::npos;) line.replace(at, 3, dir + "/rel");
            for (std::size_t at; (at = line.find("DIR")) != std::string::npos;) line.replace(at, 3, dir);
            expected.push_back("tsport_pack: " + line);
        }
        EXPECT_EQ(RunTool("--image '" + dir + "/image.exe' --output '" + dir + "/out.exe' " +
                          ReleaseArgs("workstation")),
                  2)
            << c.what;
        EXPECT_EQ(ErrorLines(), expected) << c.what;
        EXPECT_FALSE(OutputExists()) << c.what;
    }
}

TEST_F(PackTool, TellsTheEditionsEntriesAndRefusesAnUnknownEdition) {
    for (const PackageContents& edition : AllPackageContents()) {
        ASSERT_EQ(RunTool(std::string("--edition ") + edition.edition + " --names"), 0) << errors;
        std::string expected;
        for (const char* name : edition.entries) expected += std::string(name) + "\n";
        const Bytes out = Read("stdout");
        EXPECT_EQ(std::string(out.begin(), out.end()), expected);
    }
    EXPECT_EQ(Run("--edition home a.txt='" + dir + "/a.txt'"), 2);
    EXPECT_EQ(errors, "tsport_pack: unknown edition \"home\"; the editions are workstation, server\n");
    EXPECT_FALSE(OutputExists());
}

}  // namespace
