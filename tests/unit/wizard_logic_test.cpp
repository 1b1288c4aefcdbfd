#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "product/install_host.h"
#include "ui/wizard_logic.h"

namespace {

ReadySummaryTexts Texts()
{
    ReadySummaryTexts t;
    t.destination = "Destination location:";
    t.startMenu = "Start Menu folder:";
    t.additionalTasks = "Additional Tasks:";
    t.icons = "Additionals Icons:";
    t.desktopIcon = "Create a desktop icon";
    t.quickLaunchIcon = "Create a Quick Launch icon";
    t.firewallSetup = "Additional Firewall and NAT setup:";
    t.firewallRules = "Create Windows Firewall rules";
    return t;
}

InstallOptions Options(int desktop, int quickLaunch, int firewall)
{
    InstallOptions o;
    o.targetFolder = "C:\\Program Files\\P";
    o.startMenuFolder = "P";
    o.desktopIcon = desktop;
    o.quickLaunchIcon = quickLaunch;
    o.firewallRules = firewall;
    return o;
}

const std::string HEAD =
    "Destination location:\r\n      C:\\Program Files\\P\r\n\r\n"
    "Start Menu folder:\r\n      P\r\n\r\n";

TEST(WizardReadySummary, NoTasksEndsAfterStartMenuFolder)
{
    EXPECT_EQ(BuildReadySummary(Options(0, 0, 0), Texts()), HEAD);
}

TEST(WizardReadySummary, DesktopIconOnlyAsOnWindows7)
{
    EXPECT_EQ(BuildReadySummary(Options(1, 0, 0), Texts()),
              HEAD + "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                     "Create a desktop icon\r\n            ");
}

TEST(WizardReadySummary, BothIcons)
{
    EXPECT_EQ(BuildReadySummary(Options(1, 1, 0), Texts()),
              HEAD + "Additional Tasks:\r\n      Additionals Icons:\r\n            "
                     "Create a desktop icon\r\n            Create a Quick Launch icon");
}

TEST(WizardReadySummary, QuickLaunchOnly)
{
    EXPECT_EQ(BuildReadySummary(Options(0, 1, 0), Texts()),
              HEAD + "Additional Tasks:\r\n      Additionals Icons:\r\n            Create a Quick Launch icon");
}

TEST(WizardReadySummary, FirewallAlone)
{
    EXPECT_EQ(BuildReadySummary(Options(0, 0, 1), Texts()),
              HEAD + "Additional Tasks:\r\n      Additional Firewall and NAT setup:\r\n            "
                     "Create Windows Firewall rules\r\n      ");
}

TEST(WizardReadySummary, EverythingSet)
{
    EXPECT_EQ(BuildReadySummary(Options(1, 1, 1), Texts()),
              HEAD + "Additional Tasks:\r\n      Additional Firewall and NAT setup:\r\n            "
                     "Create Windows Firewall rules\r\n      Additionals Icons:\r\n            "
                     "Create a desktop icon\r\n            Create a Quick Launch icon");
}

// Runs ticks until the page would end or the limit is reached; returns the tick count.
int RunTicks(std::int32_t target, std::int32_t* value, std::int32_t direction, int limit, std::int32_t* bar,
             bool* ended)
{
    *ended = false;
    for (int i = 1; i <= limit; ++i) {
        if (ProgressTick(target, value, direction, bar)) {
            *ended = true;
            return i;
        }
    }
    return limit;
}

TEST(WizardProgress, ClimbsOneUnitPerTickAndStopsAtTarget)
{
    std::int32_t value = 10, bar = -1;
    bool ended = false;
    RunTicks(40, &value, 1, 29, &bar, &ended);
    EXPECT_EQ(value, 39);
    RunTicks(40, &value, 1, 1, &bar, &ended);
    EXPECT_EQ(value, 40);
    EXPECT_EQ(bar, 40);
    RunTicks(40, &value, 1, 10, &bar, &ended);
    EXPECT_EQ(value, 40);
    EXPECT_FALSE(ended);
}

TEST(WizardProgress, ValueAtHundredEndsWithoutDrawingIt)
{
    std::int32_t value = 100, bar = 60;
    EXPECT_TRUE(ProgressTick(100, &value, 1, &bar));
    EXPECT_EQ(bar, 60);
    value = 120;  // a failed installation
    EXPECT_TRUE(ProgressTick(40, &value, 0, &bar));
    EXPECT_EQ(bar, 60);
}

TEST(WizardProgress, ClimbToHundredEndsOnTheTickThatReachesIt)
{
    std::int32_t value = 98, bar = 0;
    EXPECT_FALSE(ProgressTick(100, &value, 1, &bar));
    EXPECT_EQ(bar, 99);
    EXPECT_TRUE(ProgressTick(100, &value, 1, &bar));
    EXPECT_EQ(bar, 99);
}

TEST(WizardProgress, RollbackSinksAndNeverClimbs)
{
    std::int32_t value = 50, bar = 0;
    ProgressTick(45, &value, 0, &bar);
    EXPECT_EQ(value, 49);
    EXPECT_EQ(bar, 49);
    ProgressTick(80, &value, 0, &bar);  // a target above the value while sinking: no move
    EXPECT_EQ(value, 49);
    ProgressTick(10, &value, 1, &bar);  // a target below the value while climbing: no move
    EXPECT_EQ(value, 49);
}

TEST(WizardFolders, DestinationBrowse)
{
    EXPECT_EQ(DestinationFromPicked("D:\\", "Prod"), "D:\\Prod");
    EXPECT_EQ(DestinationFromPicked("D:\\Apps", "Prod"), "D:\\Apps\\Prod");
}

TEST(WizardFolders, StartMenuBrowseKeepsOnlyThePickedName)
{
    EXPECT_EQ(StartMenuFromPicked("C:\\Menu\\Programs\\Tools\\Net", "Prod"), "Net\\Prod");
    EXPECT_EQ(StartMenuFromPicked("Net", "Prod"), "Net\\Prod");
}

TEST(WizardFonts, HeightsAtDpi)
{
    EXPECT_EQ(ScaleForDpi(144, 14), 21);
    EXPECT_EQ(ScaleForDpi(144, 16), 24);
    EXPECT_EQ(ScaleForDpi(96, 14), 14);
    EXPECT_EQ(TitleHeight(-11), -16);
    EXPECT_EQ(TitleHeight(13), 19);
}

TEST(WizardImage, PremultiplyRoundsDownAndKeepsAlpha)
{
    std::vector<std::uint8_t> px = {200, 100, 50, 128, 200, 100, 50, 255, 200, 100, 50, 0, 255, 255, 255, 1};
    PremultiplyBgra(px.data(), 4);
    const std::vector<std::uint8_t> want = {100, 50, 25, 128, 200, 100, 50, 255, 0, 0, 0, 0, 1, 1, 1, 1};
    EXPECT_EQ(px, want);
}

std::vector<std::uint8_t> Tga(int w, int h, std::size_t pixelBytes)
{
    std::vector<std::uint8_t> t(TGA_HEADER_SIZE + pixelBytes, 0);
    t[2] = 2;
    t[12] = static_cast<std::uint8_t>(w & 0xff);
    t[13] = static_cast<std::uint8_t>(w >> 8);
    t[14] = static_cast<std::uint8_t>(h & 0xff);
    t[15] = static_cast<std::uint8_t>(h >> 8);
    t[16] = 32;
    t[17] = 8;
    return t;
}

TEST(WizardImage, AcceptsUncompressed32Bit)
{
    auto t = Tga(32, 32, 32 * 32 * 4 + 26);  // with a footer behind the pixels
    TgaImage img;
    ASSERT_TRUE(ParseTga(t.data(), t.size(), &img));
    EXPECT_EQ(img.width, 32);
    EXPECT_EQ(img.height, 32);
    EXPECT_EQ(img.pixels, t.data() + TGA_HEADER_SIZE);
    EXPECT_EQ(img.pixelBytes, 32u * 32u * 4u);
}

TEST(WizardImage, RejectsOtherFormats)
{
    TgaImage img;
    auto t = Tga(2, 2, 16);
    t[0] = 1;  // image id present
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    t = Tga(2, 2, 16);
    t[1] = 1;  // colour map
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    t = Tga(2, 2, 16);
    t[2] = 10;  // run-length encoded
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    t = Tga(2, 2, 16);
    t[16] = 24;
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    EXPECT_EQ(img.width, 0);
}

TEST(WizardImage, RejectsPixelsBeyondTheFile)
{
    TgaImage img;
    auto t = Tga(32, 32, 32 * 32 * 4 - 1);
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    t = Tga(0xffff, 0xffff, 16);  // huge sizes must not wrap the bound
    EXPECT_FALSE(ParseTga(t.data(), t.size(), &img));
    EXPECT_FALSE(ParseTga(t.data(), 17, &img));
    EXPECT_FALSE(ParseTga(nullptr, 100, &img));
}

}  // namespace

namespace {

std::vector<std::uint8_t> ReadResource(const char* name)
{
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("tests/unit/")) + "src/ui/resources/" + name;
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF)
            bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

TEST(WizardImage, ProgramPicturesAre32By32WithAlphaAndFooter)
{
    for (const char* name : {"folder.tga", "start_menu.tga"}) {
        const auto bytes = ReadResource(name);
        TgaImage img;
        ASSERT_TRUE(ParseTga(bytes.data(), bytes.size(), &img)) << name;
        EXPECT_EQ(img.width, 32) << name;
        EXPECT_EQ(img.height, 32) << name;
        EXPECT_EQ(bytes[17] & 0x0f, 8) << name;     // 8 alpha bits
        EXPECT_EQ(bytes[17] & 0x20, 0) << name;     // bottom-left origin
        ASSERT_GE(bytes.size(), TGA_HEADER_SIZE + img.pixelBytes + 26) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + bytes.size() - 18, 17),
                  "TRUEVISION-XFILE.")
            << name;
        bool partlyTransparent = false;
        for (std::size_t i = 3; i < img.pixelBytes; i += 4)
            partlyTransparent |= img.pixels[i] != 0 && img.pixels[i] != 255;
        EXPECT_TRUE(partlyTransparent) << name;  // the blend has something to do
    }
}

}  // namespace
