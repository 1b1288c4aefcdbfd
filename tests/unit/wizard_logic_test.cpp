#include <gtest/gtest.h>

#include <algorithm>
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

// A BITMAP resource as the resource compiler stores it: the info header, then the rows.
std::vector<std::uint8_t> Bitmap(std::int32_t w, std::int32_t h, int bits, std::uint32_t coloursUsed = 0)
{
    const std::size_t stride = (static_cast<std::size_t>(w) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
    const std::size_t rows = static_cast<std::size_t>(h < 0 ? -h : h);
    std::vector<std::uint8_t> b(40 + coloursUsed * 4 + stride * rows, 0);
    auto put32 = [&b](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, static_cast<std::uint32_t>(w));
    put32(8, static_cast<std::uint32_t>(h));
    b[12] = 1;
    b[14] = static_cast<std::uint8_t>(bits);
    put32(32, coloursUsed);
    return b;
}

TEST(WizardBitmap, ReadsBottomUpRowsWithPaddingAsTopDownOpaquePixels)
{
    // 3x2, 24 bits: rows of 9 bytes padded to 12; the file's first row is the bottom one.
    auto b = Bitmap(3, 2, 24);
    const std::uint8_t bottom[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::uint8_t top[9] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    std::copy(bottom, bottom + 9, b.begin() + 40);
    std::copy(top, top + 9, b.begin() + 52);
    BitmapImage img;
    ASSERT_TRUE(ParseBitmap(b.data(), b.size(), &img));
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(img.stride, 12u);
    const std::vector<std::uint8_t> want = {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255,
                                            1,  2,  3,  255, 4,  5,  6,  255, 7,  8,  9,  255};
    EXPECT_EQ(PremultipliedPixels(img), want);
}

TEST(WizardBitmap, ThirtyTwoBitsKeepTheirAlphaPremultiplied)
{
    auto b = Bitmap(2, -1, 32);  // top-down
    const std::uint8_t row[8] = {200, 100, 50, 128, 9, 9, 9, 0};
    std::copy(row, row + 8, b.begin() + 40);
    BitmapImage img;
    ASSERT_TRUE(ParseBitmap(b.data(), b.size(), &img));
    EXPECT_FALSE(img.bottomUp);
    const std::vector<std::uint8_t> want = {100, 50, 25, 128, 0, 0, 0, 0};
    EXPECT_EQ(PremultipliedPixels(img), want);
}

TEST(WizardBitmap, ThirtyTwoBitsWithoutAnyAlphaAreOpaque)
{
    auto b = Bitmap(1, 1, 32);
    b[40] = 7;
    b[41] = 8;
    b[42] = 9;
    BitmapImage img;
    ASSERT_TRUE(ParseBitmap(b.data(), b.size(), &img));
    const std::vector<std::uint8_t> want = {7, 8, 9, 255};
    EXPECT_EQ(PremultipliedPixels(img), want);
}

TEST(WizardBitmap, SkipsAColourTable)
{
    auto b = Bitmap(1, 1, 24, 2);
    b[48] = 33;  // first pixel byte, after 40 + 2 * 4
    BitmapImage img;
    ASSERT_TRUE(ParseBitmap(b.data(), b.size(), &img));
    EXPECT_EQ(img.pixels, b.data() + 48);
}

TEST(WizardBitmap, RejectsWhatItCannotDrawAndWhatTheResourceDoesNotHold)
{
    BitmapImage img;
    auto b = Bitmap(4, 4, 24);
    EXPECT_FALSE(ParseBitmap(b.data(), b.size() - 1, &img));  // last row cut short
    EXPECT_FALSE(ParseBitmap(b.data(), 39, &img));
    EXPECT_FALSE(ParseBitmap(nullptr, 100, &img));
    b = Bitmap(4, 4, 8);
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    b = Bitmap(4, 4, 24);
    b[16] = 1;  // run-length encoded
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    b = Bitmap(4, 4, 24);
    b[12] = 2;  // two planes
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    b = Bitmap(1, 1, 24);
    b[4] = b[5] = b[6] = b[7] = 0x7f;  // a width whose rows would overflow the bound
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    b = Bitmap(1, 1, 24);
    b[32] = b[33] = b[34] = b[35] = 0xff;  // a colour table beyond the resource
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    b = Bitmap(1, 1, 24);
    b[0] = 0xff;  // a header larger than the resource
    EXPECT_FALSE(ParseBitmap(b.data(), b.size(), &img));
    EXPECT_EQ(img.width, 0);
}

std::vector<std::uint8_t> Solid(std::int32_t w, std::int32_t h, std::uint8_t b, std::uint8_t g, std::uint8_t r,
                                std::uint8_t a)
{
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h) * 4);
    for (std::size_t i = 0; i < px.size(); i += 4) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
        px[i + 3] = a;
    }
    return px;
}

TEST(WizardScale, SameSizeIsACopy)
{
    std::vector<std::uint8_t> src(5 * 3 * 4);
    for (std::size_t i = 0; i < 15; ++i) {
        src[i * 4] = static_cast<std::uint8_t>(i * 3);
        src[i * 4 + 1] = static_cast<std::uint8_t>(i * 5);
        src[i * 4 + 2] = static_cast<std::uint8_t>(i * 7);
        src[i * 4 + 3] = static_cast<std::uint8_t>(200 + i);
    }
    PremultiplyBgra(src.data(), 15);
    std::vector<std::uint8_t> out(src.size());
    ASSERT_TRUE(ScalePixels(src.data(), 5, 3, out.data(), out.size(), 5, 3));
    EXPECT_EQ(out, src);
}

TEST(WizardScale, UniformPictureStaysUniformGrowingAndShrinking)
{
    const auto src = Solid(7, 5, 60, 90, 120, 200);  // already premultiplied (all below alpha)
    for (auto size : {std::make_pair(11, 8), std::make_pair(3, 2), std::make_pair(1, 1), std::make_pair(16, 3)}) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(size.first * size.second) * 4);
        ASSERT_TRUE(ScalePixels(src.data(), 7, 5, out.data(), out.size(), size.first, size.second));
        EXPECT_EQ(out, Solid(size.first, size.second, 60, 90, 120, 200)) << size.first << "x" << size.second;
    }
}

TEST(WizardScale, ShrinkingAveragesAndGrowingBlendsBetweenNeighbours)
{
    // Black and white columns shrink to grey.
    std::vector<std::uint8_t> src = {0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255};
    std::vector<std::uint8_t> out(4);
    ASSERT_TRUE(ScalePixels(src.data(), 4, 1, out.data(), out.size(), 1, 1));
    EXPECT_NEAR(out[0], 128, 1);
    EXPECT_EQ(out[3], 255);

    // Black to white over 2 pixels grown to 8: rises step by step, ends at the source values.
    src = {0, 0, 0, 255, 255, 255, 255, 255};
    out.assign(8 * 4, 0);
    ASSERT_TRUE(ScalePixels(src.data(), 2, 1, out.data(), out.size(), 8, 1));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[7 * 4], 255);
    for (int x = 1; x < 8; ++x)
        EXPECT_GE(out[static_cast<std::size_t>(x) * 4], out[static_cast<std::size_t>(x - 1) * 4]) << x;
    EXPECT_GT(out[3 * 4], 0);
    EXPECT_LT(out[4 * 4], 255);
}

TEST(WizardScale, AlphaIsFilteredAndNoColourExceedsIt)
{
    // An opaque red pixel beside a transparent one: the edge gets part alpha, and stays red
    // (no dark fringe from the transparent pixel's colour).
    std::vector<std::uint8_t> src = {0, 0, 255, 255, 0, 0, 0, 0};
    std::vector<std::uint8_t> out(6 * 4);
    ASSERT_TRUE(ScalePixels(src.data(), 2, 1, out.data(), out.size(), 6, 1));
    bool partly = false;
    for (int x = 0; x < 6; ++x) {
        const std::uint8_t* p = &out[static_cast<std::size_t>(x) * 4];
        EXPECT_LE(p[2], p[3]) << x;
        EXPECT_EQ(p[0], 0) << x;
        if (p[3] > 0 && p[3] < 255) {
            partly = true;
            EXPECT_NEAR(p[2], p[3], 1) << x;  // un-premultiplied it is still full red
        }
    }
    EXPECT_TRUE(partly);
}

TEST(WizardScale, RefusesEmptySizesAndShortBuffers)
{
    const auto src = Solid(2, 2, 1, 2, 3, 4);
    std::vector<std::uint8_t> out(16, 0xAB);
    EXPECT_FALSE(ScalePixels(src.data(), 2, 2, out.data(), out.size(), 0, 2));
    EXPECT_FALSE(ScalePixels(src.data(), 0, 2, out.data(), out.size(), 2, 2));
    EXPECT_FALSE(ScalePixels(src.data(), 2, 2, out.data(), 15, 2, 2));
    EXPECT_FALSE(ScalePixels(nullptr, 2, 2, out.data(), out.size(), 2, 2));
    EXPECT_EQ(out, std::vector<std::uint8_t>(16, 0xAB));
}

TEST(WizardScale, FitKeepsProportionsInsideTheBox)
{
    std::int32_t w = 0, h = 0;
    FitInto(72, 72, 51, 49, &w, &h);
    EXPECT_EQ(w, 49);
    EXPECT_EQ(h, 49);
    FitInto(72, 72, 77, 71, &w, &h);
    EXPECT_EQ(w, 71);
    EXPECT_EQ(h, 71);
    FitInto(100, 50, 30, 40, &w, &h);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 15);
    FitInto(1, 1000, 10, 10, &w, &h);  // never below one pixel
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 10);
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

// A BMP file's bitmap as the resource compiler keeps it: without the 14-byte file header.
TEST(WizardImage, SideAndHeaderPicturesAreReadableBitmaps)
{
    auto side = ReadResource("side.bmp");
    ASSERT_GT(side.size(), 14u);
    BitmapImage img;
    ASSERT_TRUE(ParseBitmap(side.data() + 14, side.size() - 14, &img));
    EXPECT_EQ(img.width, 164);  // the band's width at 96 pixels per inch
    EXPECT_EQ(img.height, 281);

    auto header = ReadResource("header.bmp");
    ASSERT_GT(header.size(), 14u);
    ASSERT_TRUE(ParseBitmap(header.data() + 14, header.size() - 14, &img));
    EXPECT_EQ(img.bitCount, 32);
    const auto pixels = PremultipliedPixels(img);
    bool clear = false, partly = false;
    for (std::size_t i = 3; i < pixels.size(); i += 4) {
        clear |= pixels[i] == 0;
        partly |= pixels[i] != 0 && pixels[i] != 255;
    }
    EXPECT_TRUE(clear && partly);  // transparent corners and soft edges
}

TEST(WizardImage, IconCarries16And32And48Pixels)
{
    const auto ico = ReadResource("wizard.ico");
    ASSERT_GE(ico.size(), 6u);
    const std::size_t count = ico[4] | (ico[5] << 8);
    ASSERT_GE(ico.size(), 6 + 16 * count);
    std::vector<int> sizes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = &ico[6 + 16 * i];
        sizes.push_back(entry[0]);
        EXPECT_EQ(entry[0], entry[1]);
        EXPECT_EQ(entry[6], 32);  // 32 bits per pixel, with alpha
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
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

namespace {

// An extended dialog template, written field by field: a frame with font (or none), an edit
// named by class number, and a line named by class name with 6 bytes of creation data.
std::vector<std::uint8_t> Template(bool font)
{
    std::vector<std::uint8_t> t;
    const auto u16 = [&t](unsigned v) { t.insert(t.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
    const auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
    const auto text = [&](const char* s) {
        for (; *s; ++s)
            u16(static_cast<unsigned char>(*s));
        u16(0);
    };
    u16(1), u16(0xFFFF), u32(0), u32(0), u32(font ? 0x80C80048 : 0x80C80000), u16(2);
    for (unsigned v : {0, 0, 320, 200, 0, 0})  // place, size, no menu, no class
        u16(v);
    text("Setup");
    if (font)
        u16(8), u16(400), u16(0x0100), text("MS Shell Dlg");
    const struct {
        int x, y, cx, cy;
        unsigned id;
    } items[] = {{27, 84, 211, 14, 1015}, {-1, 172, 319, 1, 0xFFFFFFFF}};
    for (const auto& item : items) {
        t.resize((t.size() + 3) / 4 * 4);
        u32(0), u32(0), u32(0x50000000);
        for (int v : {item.x, item.y, item.cx, item.cy})
            u16(static_cast<unsigned>(v) & 0xFFFF);
        u32(item.id);
        item.id == 1015 ? (u16(0xFFFF), u16(0x0081), text("C:\\")) : (text("Static"), u16(0xFFFF), u16(135));
        u16(item.id == 1015 ? 0 : 6);
        t.resize(t.size() + (item.id == 1015 ? 0 : 6), 0x5A);
    }
    return t;
}

TEST(WizardDialogTemplate, ReadsFrameFontAndControlsInOrder)
{
    for (bool font : {true, false}) {
        const std::vector<std::uint8_t> t = Template(font);
        DialogTemplate layout;
        ASSERT_TRUE(ParseDialogTemplate(t.data(), t.size(), &layout)) << font;
        EXPECT_EQ(std::vector<int>({layout.cx, layout.cy, layout.pointSize}), std::vector<int>({320, 200, font ? 8 : 0}));
        ASSERT_EQ(layout.items.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const DialogItem& c = layout.items[i];
            EXPECT_EQ(std::vector<long long>({c.id, c.x, c.y, c.cx, c.cy}),
                      i == 0 ? std::vector<long long>({1015, 27, 84, 211, 14})
                             : std::vector<long long>({0xFFFFFFFF, -1, 172, 319, 1}));
        }
    }
}

TEST(WizardDialogTemplate, RefusesTruncatedAndOtherTemplates)
{
    const std::vector<std::uint8_t> t = Template(true);
    DialogTemplate layout;
    for (std::size_t size = 0; size < t.size(); ++size)  // the creation data ends it
        EXPECT_FALSE(ParseDialogTemplate(t.data(), size, &layout)) << size;
    std::vector<std::uint8_t> plain = t, more = t;
    plain[2] = 0;  // a DIALOG, not a DIALOGEX
    more[16] = 3;  // three controls, two written
    EXPECT_FALSE(ParseDialogTemplate(plain.data(), plain.size(), &layout));
    EXPECT_FALSE(ParseDialogTemplate(more.data(), more.size(), &layout));
    EXPECT_FALSE(ParseDialogTemplate(nullptr, 64, &layout));
}

}  // namespace
