// tsport_pad, which grows the stand-ins to the product's real sizes for the benchmark
// packages: the size is exact, what the stand-in was stays as it was (so it still works),
// the random share decides how well the result deflates, and the output is repeatable.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class PadTool : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tsport_pad_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        image.assign(3000, 0);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 % 251);
        image[0] = 'M';
        image[1] = 'Z';
        Write("program.exe", image);
        Write("licence.rtf", ToBytes("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 The licence.\\par\r\n}\r\n"));
        Write("driver.inf", ToBytes("[Version]\r\nSignature=\"$Windows NT$\"\r\n"));
        Write("readme.txt", ToBytes("No line end at the end"));
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    static Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
    void Write(const std::string& name, const Bytes& bytes) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    int Pad(const std::string& kind, std::size_t size, int randomPercent, const std::string& in,
            const std::string& out) {
        const std::string command = std::string(TSP_PAD_TOOL) + " --kind " + kind + " --size " +
                                    std::to_string(size) + " --random " + std::to_string(randomPercent) + " '" +
                                    dir + "/" + in + "' '" + dir + "/" + out + "' 2>'" + dir + "/stderr'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static double DeflatedShare(const Bytes& data) {
        uLongf size = compressBound(static_cast<uLong>(data.size()));
        Bytes packed(size);
        EXPECT_EQ(compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
        return static_cast<double>(size) / static_cast<double>(data.size());
    }
    static bool StartsWith(const Bytes& data, const Bytes& prefix) {
        return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
    }

    std::string dir;
    Bytes image;
};

TEST_F(PadTool, ProgramsKeepTheirImageAndGrowBehindItToTheExactSize) {
    ASSERT_EQ(Pad("pe", 300000, 25, "program.exe", "a.exe"), 0);
    const Bytes out = Read("a.exe");
    EXPECT_EQ(out.size(), 300000u);
    EXPECT_TRUE(StartsWith(out, image));
    // The same name gives the same bytes; another name other ones.
    ASSERT_EQ(Pad("pe", 300000, 25, "program.exe", "b.exe"), 0);
    EXPECT_NE(Read("b.exe"), out);
    std::system(("mkdir '" + dir + "/again' && cp '" + dir + "/program.exe' '" + dir + "/again/'").c_str());
    ASSERT_EQ(Pad("pe", 300000, 25, "again/program.exe", "again/a.exe"), 0);
    EXPECT_EQ(Read("again/a.exe"), out);
}

TEST_F(PadTool, TheRandomShareSetsHowWellThePaddingDeflates) {
    ASSERT_EQ(Pad("pe", 400000, 0, "program.exe", "none.exe"), 0);
    ASSERT_EQ(Pad("pe", 400000, 25, "program.exe", "quarter.exe"), 0);
    ASSERT_EQ(Pad("binary", 400000, 100, "program.exe", "all.bin"), 0);
    const double none = DeflatedShare(Read("none.exe"));
    const double quarter = DeflatedShare(Read("quarter.exe"));
    const double all = DeflatedShare(Read("all.bin"));
    // Executable-like bytes deflate to well under their size, random ones not at all; a
    // quarter of random blocks lands near real programs (about 0.55).
    EXPECT_LT(none, 0.5);
    EXPECT_GT(quarter, none + 0.08);
    EXPECT_GT(quarter, 0.5);
    EXPECT_LT(quarter, 0.65);
    EXPECT_GT(all, 0.99);
}

TEST_F(PadTool, TextsGrowByWholeLinesAndInfFilesByComments) {
    ASSERT_EQ(Pad("text", 5000, 0, "readme.txt", "readme_out.txt"), 0);
    const Bytes text = Read("readme_out.txt");
    ASSERT_EQ(text.size(), 5000u);
    EXPECT_TRUE(StartsWith(text, ToBytes("No line end at the end\r\n")));
    EXPECT_EQ(text[text.size() - 2], '\r');
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LT(DeflatedShare(text), 0.45);

    ASSERT_EQ(Pad("inf", 4000, 0, "driver.inf", "driver_out.inf"), 0);
    const Bytes inf = Read("driver_out.inf");
    ASSERT_EQ(inf.size(), 4000u);
    const Bytes original = Read("driver.inf");
    ASSERT_TRUE(StartsWith(inf, original));
    // Every added line is a comment, so SetupAPI reads the same sections.
    const std::string added(inf.begin() + static_cast<std::ptrdiff_t>(original.size()), inf.end());
    std::size_t lines = 0;
    for (std::size_t at = 0; at < added.size(); at = added.find("\r\n", at) + 2) {
        EXPECT_EQ(added.compare(at, 2, "; "), 0) << "line at " << at;
        ++lines;
        if (added.find("\r\n", at) == std::string::npos) break;
    }
    EXPECT_GT(lines, 20u);
}

TEST_F(PadTool, RtfGetsAnIgnorableGroupBeforeItsLastBrace) {
    const Bytes original = Read("licence.rtf");
    ASSERT_EQ(Pad("rtf", 6000, 0, "licence.rtf", "licence_out.rtf"), 0);
    const std::string out = [&] {
        const Bytes bytes = Read("licence_out.rtf");
        return std::string(bytes.begin(), bytes.end());
    }();
    ASSERT_EQ(out.size(), 6000u);
    const std::string before(original.begin(), original.end());
    const std::size_t last = before.rfind('}');
    const std::size_t group = out.find("{\\*\\tsppadding ");
    ASSERT_EQ(group, last);
    // Outside the group the document is unchanged: its text, then the group, then its end.
    EXPECT_EQ(out.substr(0, group), before.substr(0, last));
    EXPECT_EQ(out.substr(out.size() - (before.size() - last) - 1), "}" + before.substr(last));
    // Inside it only words: no brace or control word that a reader would act on.
    const std::string inside = out.substr(group + 15, out.size() - (before.size() - last) - 1 - group - 15);
    EXPECT_EQ(inside.find_first_of("{}\\"), std::string::npos);
}

TEST_F(PadTool, RefusesAStandInLargerThanTheSizeAndBadArguments) {
    EXPECT_EQ(Pad("pe", 100, 25, "program.exe", "small.exe"), 2);
    EXPECT_TRUE(Read("small.exe").empty());
    EXPECT_EQ(Pad("pe", 5000, 101, "program.exe", "bad.exe"), 2);
    EXPECT_EQ(Pad("zip", 5000, 0, "program.exe", "bad.exe"), 2);
    EXPECT_EQ(Pad("pe", 5000, 0, "missing.exe", "bad.exe"), 2);
    EXPECT_EQ(Pad("rtf", 5000, 0, "readme.txt", "bad.rtf"), 2);  // no closing brace
}

}  // namespace
