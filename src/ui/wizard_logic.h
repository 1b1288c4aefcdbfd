// The wizard's rules that need no window: the ready summary, the progress bar's steps,
// the folder texts the browse buttons make, the checks and premultiplication of the TGA
// pictures, the reading and smooth scaling of the bitmap pictures, and the reading of the
// pages' dialog templates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct InstallOptions;

// The string-table texts the ready summary is made of (ids 14-19, 61, 62).
struct ReadySummaryTexts {
    std::string destination;      // 14
    std::string startMenu;        // 15
    std::string additionalTasks;  // 16
    std::string icons;            // 17
    std::string desktopIcon;      // 18
    std::string quickLaunchIcon;  // 19
    std::string firewallSetup;    // 61
    std::string firewallRules;    // 62
};

std::string BuildReadySummary(const InstallOptions& options, const ReadySummaryTexts& texts);

// One timer tick of the progress page: moves value one unit towards target in the given
// direction. Returns true when the page must end (value 100 or more); otherwise *barPosition
// is what the bar shows.
bool ProgressTick(std::int32_t target, std::int32_t* value, std::int32_t direction, std::int32_t* barPosition);

// Destination Browse: the picked path, a backslash unless it ends in one, the product.
std::string DestinationFromPicked(const std::string& picked, const std::string& product);
// Start Menu Browse: the picked folder's own name, a backslash, the product.
std::string StartMenuFromPicked(const std::string& picked, const std::string& product);

// Font heights: logical pixels per inch scaled from 96, and the title's 3/2 (truncated
// towards zero, sign kept).
std::int32_t ScaleForDpi(std::int32_t dpi, std::int32_t size96);
std::int32_t TitleHeight(std::int32_t height);

// An uncompressed 32-bit true-colour TGA: header checked and the pixel bytes bounded by
// the file's size.
struct TgaImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::uint8_t* pixels = nullptr;  // width * height * 4 bytes, blue green red alpha
    std::size_t pixelBytes = 0;
};
constexpr std::size_t TGA_HEADER_SIZE = 18;
bool ParseTga(const void* data, std::size_t size, TgaImage* image);

// c := c * alpha / 255 for the three colour bytes of each pixel; alpha stays.
void PremultiplyBgra(std::uint8_t* pixels, std::size_t pixelCount);

// A BITMAP resource: an info header (no file header) and uncompressed 24- or 32-bit
// pixels, checked against the resource's size.
struct BitmapImage {
    std::int32_t width = 0;
    std::int32_t height = 0;  // rows, whichever order they are stored in
    bool bottomUp = true;
    std::int32_t bitCount = 0;  // 24 or 32
    std::size_t stride = 0;     // bytes a row, padded to 4
    const std::uint8_t* pixels = nullptr;
};
constexpr std::int32_t BITMAP_MAX_SIDE = 4096;
bool ParseBitmap(const void* data, std::size_t size, BitmapImage* image);

// The picture as premultiplied blue green red alpha, top row first. 24-bit pixels are
// opaque, and so is a 32-bit picture whose alpha bytes are all 0 (one that carries none).
std::vector<std::uint8_t> PremultipliedPixels(const BitmapImage& image);

// Resamples premultiplied pixels (top row first) to another size: along each axis a linear
// filter that widens to the source pixels each target pixel covers when shrinking, so both
// growing and shrinking come out smooth; alpha is filtered like the colours. False (and
// nothing written) for an empty size or too small a target buffer.
bool ScalePixels(const std::uint8_t* source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                 std::uint8_t* target, std::size_t targetBytes, std::int32_t width, std::int32_t height);

// The largest size with the picture's proportions that fits into the box (at least 1x1).
void FitInto(std::int32_t pictureWidth, std::int32_t pictureHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t* width, std::int32_t* height);

// A page's extended dialog template (DIALOGEX) as the dialog manager lays it out: the
// frame, the font's point size and each control's place, in dialog units, in the order of
// the template (the order the controls are created in).
struct DialogItem {
    std::uint32_t id = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
};
struct DialogTemplate {
    std::int16_t cx = 0;
    std::int16_t cy = 0;
    std::uint16_t pointSize = 0;  // 0: the template names no font
    std::vector<DialogItem> items;
};
// False for anything but an extended template whose every part lies within size.
bool ParseDialogTemplate(const void* data, std::size_t size, DialogTemplate* layout);
