#include "ui/wizard_logic.h"

#include <cmath>

#include "product/install_host.h"

namespace {
const char LINE[] = "\r\n";
const char INDENT6[] = "\r\n      ";
const char INDENT12[] = "\r\n            ";
}  // namespace

std::string BuildReadySummary(const InstallOptions& options, const ReadySummaryTexts& texts)
{
    std::string text;
    text += texts.destination + INDENT6 + options.targetFolder + LINE + LINE;
    text += texts.startMenu + INDENT6 + options.startMenuFolder + LINE + LINE;
    if (options.desktopIcon || options.quickLaunchIcon || options.firewallRules) {
        text += texts.additionalTasks + INDENT6;
        if (options.firewallRules)
            text += texts.firewallSetup + INDENT12 + texts.firewallRules + INDENT6;
        if (options.desktopIcon || options.quickLaunchIcon)
            text += texts.icons + INDENT12;
        if (options.desktopIcon)
            text += texts.desktopIcon + INDENT12;
        if (options.quickLaunchIcon)
            text += texts.quickLaunchIcon;
    }
    return text;
}

bool ProgressTick(std::int32_t target, std::int32_t* value, std::int32_t direction, std::int32_t* barPosition)
{
    if (direction == 1 && *value < target)
        ++*value;
    else if (direction == 0 && *value > target)
        --*value;
    if (*value >= 100)
        return true;
    *barPosition = *value;
    return false;
}

std::string DestinationFromPicked(const std::string& picked, const std::string& product)
{
    std::string text = picked;
    if (text.empty() || text.back() != '\\')
        text += '\\';
    return text + product;
}

std::string StartMenuFromPicked(const std::string& picked, const std::string& product)
{
    const std::size_t slash = picked.find_last_of('\\');
    const std::string name = slash == std::string::npos ? picked : picked.substr(slash + 1);
    return name + "\\" + product;
}

std::int32_t ScaleForDpi(std::int32_t dpi, std::int32_t size96)
{
    return dpi * size96 / 96;
}

std::int32_t TitleHeight(std::int32_t height)
{
    return height * 3 / 2;  // C++ division truncates towards zero
}

bool ParseTga(const void* data, std::size_t size, TgaImage* image)
{
    if (!data || size < TGA_HEADER_SIZE)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 2 || bytes[16] != 32)
        return false;
    const std::int32_t width = bytes[12] | (bytes[13] << 8);
    const std::int32_t height = bytes[14] | (bytes[15] << 8);
    if (width == 0 || height == 0)
        return false;
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4u;
    if (pixelBytes > size - TGA_HEADER_SIZE)
        return false;
    image->width = width;
    image->height = height;
    image->pixels = bytes + TGA_HEADER_SIZE;
    image->pixelBytes = pixelBytes;
    return true;
}

void PremultiplyBgra(std::uint8_t* pixels, std::size_t pixelCount)
{
    for (std::size_t i = 0; i < pixelCount; ++i) {
        std::uint8_t* p = pixels + i * 4;
        const unsigned alpha = p[3];
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<std::uint8_t>(p[c] * alpha / 255u);
    }
}

namespace {

std::uint32_t Read32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Weights of the source pixels that make one target pixel along one axis.
struct Tap {
    std::int32_t first = 0;
    std::vector<float> weights;
};

// Rounding down by hand: the setup programs carry no maths library for two calls.
std::int32_t Floor(double x)
{
    const std::int32_t i = static_cast<std::int32_t>(x);
    return i > x ? i - 1 : i;
}

std::vector<Tap> Taps(std::int32_t from, std::int32_t to)
{
    const double scale = static_cast<double>(from) / to;
    const double radius = scale > 1.0 ? scale : 1.0;  // wider when shrinking
    std::vector<Tap> taps(static_cast<std::size_t>(to));
    for (std::int32_t i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;  // in source pixel centres
        std::int32_t first = Floor(centre - radius) + 1;
        std::int32_t last = -Floor(-(centre + radius)) - 1;
        if (first < 0)
            first = 0;
        if (last > from - 1)
            last = from - 1;
        if (last < first)  // a target pixel between two source pixels at the edge
            last = first = centre < 0 ? 0 : from - 1;
        Tap& tap = taps[static_cast<std::size_t>(i)];
        tap.first = first;
        double sum = 0;
        for (std::int32_t j = first; j <= last; ++j) {
            const double w = 1.0 - std::fabs(j - centre) / radius;
            tap.weights.push_back(static_cast<float>(w > 0 ? w : 0));
            sum += tap.weights.back();
        }
        for (float& w : tap.weights)
            w = sum > 0 ? static_cast<float>(w / sum) : 1.0f / static_cast<float>(tap.weights.size());
    }
    return taps;
}

std::uint8_t ToByte(float v)
{
    return v < 0 ? 0 : v >= 254.5f ? 255 : static_cast<std::uint8_t>(v + 0.5f);
}

}  // namespace

bool ParseBitmap(const void* data, std::size_t size, BitmapImage* image)
{
    constexpr std::size_t INFO_SIZE = 40;
    if (!data || size < INFO_SIZE)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::uint32_t headerSize = Read32(bytes);
    const std::int32_t width = static_cast<std::int32_t>(Read32(bytes + 4));
    const std::int32_t height = static_cast<std::int32_t>(Read32(bytes + 8));
    const std::uint16_t planes = Read16(bytes + 12);
    const std::uint16_t bitCount = Read16(bytes + 14);
    const std::uint32_t compression = Read32(bytes + 16);
    const std::uint32_t coloursUsed = Read32(bytes + 32);
    if (headerSize < INFO_SIZE || headerSize > size || planes != 1 || (bitCount != 24 && bitCount != 32) ||
        compression != 0)
        return false;
    if (width <= 0 || width > BITMAP_MAX_SIDE || height == 0 || height < -BITMAP_MAX_SIDE ||
        height > BITMAP_MAX_SIDE || coloursUsed > 256)
        return false;
    const std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
    const std::size_t stride = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
    const std::size_t offset = headerSize + static_cast<std::size_t>(coloursUsed) * 4;
    if (offset > size || stride * rows > size - offset)
        return false;
    image->width = width;
    image->height = static_cast<std::int32_t>(rows);
    image->bottomUp = height > 0;
    image->bitCount = bitCount;
    image->stride = stride;
    image->pixels = bytes + offset;
    return true;
}

std::vector<std::uint8_t> PremultipliedPixels(const BitmapImage& image)
{
    const std::size_t w = static_cast<std::size_t>(image.width), h = static_cast<std::size_t>(image.height);
    std::vector<std::uint8_t> out(w * h * 4);
    bool anyAlpha = false;
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* row = image.pixels + (image.bottomUp ? h - 1 - y : y) * image.stride;
        for (std::size_t x = 0; x < w; ++x) {
            std::uint8_t* p = &out[(y * w + x) * 4];
            const std::uint8_t* s = row + x * (image.bitCount / 8);
            p[0] = s[0];
            p[1] = s[1];
            p[2] = s[2];
            p[3] = image.bitCount == 32 ? s[3] : 255;
            anyAlpha |= p[3] != 0;
        }
    }
    if (!anyAlpha) {
        for (std::size_t i = 3; i < out.size(); i += 4)
            out[i] = 255;
    }
    PremultiplyBgra(out.data(), w * h);
    return out;
}

bool ScalePixels(const std::uint8_t* source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                 std::uint8_t* target, std::size_t targetBytes, std::int32_t width, std::int32_t height)
{
    if (!source || !target || sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0)
        return false;
    const std::size_t tw = static_cast<std::size_t>(width), th = static_cast<std::size_t>(height);
    const std::size_t sw = static_cast<std::size_t>(sourceWidth), sh = static_cast<std::size_t>(sourceHeight);
    if (targetBytes / 4 / tw < th)
        return false;
    const std::vector<Tap> across = Taps(sourceWidth, width);
    const std::vector<Tap> down = Taps(sourceHeight, height);

    // Across first, into a float row set as high as the source, then down.
    std::vector<float> middle(sh * tw * 4);
    for (std::size_t y = 0; y < sh; ++y) {
        for (std::size_t x = 0; x < tw; ++x) {
            const Tap& tap = across[x];
            float sum[4] = {0, 0, 0, 0};
            for (std::size_t k = 0; k < tap.weights.size(); ++k) {
                const std::uint8_t* p = source + (y * sw + static_cast<std::size_t>(tap.first) + k) * 4;
                for (int c = 0; c < 4; ++c)
                    sum[c] += tap.weights[k] * p[c];
            }
            for (int c = 0; c < 4; ++c)
                middle[(y * tw + x) * 4 + static_cast<std::size_t>(c)] = sum[c];
        }
    }
    for (std::size_t y = 0; y < th; ++y) {
        const Tap& tap = down[y];
        for (std::size_t x = 0; x < tw; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (std::size_t k = 0; k < tap.weights.size(); ++k) {
                const float* p = &middle[((static_cast<std::size_t>(tap.first) + k) * tw + x) * 4];
                for (int c = 0; c < 4; ++c)
                    sum[c] += tap.weights[k] * p[c];
            }
            std::uint8_t* out = target + (y * tw + x) * 4;
            out[3] = ToByte(sum[3]);
            for (int c = 0; c < 3; ++c) {
                const std::uint8_t v = ToByte(sum[c]);
                out[c] = v < out[3] ? v : out[3];  // premultiplied: no colour above its alpha
            }
        }
    }
    return true;
}

void FitInto(std::int32_t pictureWidth, std::int32_t pictureHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t* width, std::int32_t* height)
{
    std::int64_t w = boxWidth > 0 ? boxWidth : 1, h = boxHeight > 0 ? boxHeight : 1;
    if (pictureWidth > 0 && pictureHeight > 0) {
        // Width-bound when the box is relatively higher than the picture.
        if (w * pictureHeight <= h * pictureWidth)
            h = (w * pictureHeight + pictureWidth / 2) / pictureWidth;
        else
            w = (h * pictureWidth + pictureHeight / 2) / pictureHeight;
    }
    *width = static_cast<std::int32_t>(w > 0 ? w : 1);
    *height = static_cast<std::int32_t>(h > 0 ? h : 1);
}

namespace {

// Reads a template's little-endian fields; any read past the end makes it fail for good.
class CTemplateReader {
public:
    CTemplateReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Ok() const { return m_ok; }
    std::uint32_t Read(std::size_t bytes)  // 2 or 4
    {
        const std::size_t at = m_at;
        Skip(bytes);
        std::uint32_t value = 0;
        for (std::size_t i = 0; m_ok && i < bytes; ++i)
            value |= static_cast<std::uint32_t>(m_data[at + i]) << (8 * i);
        return value;
    }
    void Skip(std::size_t bytes)
    {
        if (!m_ok || m_size - m_at < bytes)
            m_ok = false;
        else
            m_at += bytes;
    }
    void SkipText()  // a zero-ended UTF-16 string
    {
        while (m_ok && Read(2) != 0) {
        }
    }
    void SkipNameOrNumber()  // 0: none; 0xFFFF: a 16-bit number follows; else a string
    {
        const std::uint32_t first = Read(2);
        if (first == 0xFFFF)
            Read(2);
        else if (first != 0)
            SkipText();
    }
    void AlignTo4() { Skip((4 - m_at % 4) % 4); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

constexpr std::uint32_t DIALOG_SETFONT = 0x40;  // DS_SETFONT, also part of DS_SHELLFONT

}  // namespace

bool ParseDialogTemplate(const void* data, std::size_t size, DialogTemplate* layout)
{
    if (!data)
        return false;
    CTemplateReader in(static_cast<const std::uint8_t*>(data), size);
    if (in.Read(2) != 1 || in.Read(2) != 0xFFFF)  // version 1 and the extended signature
        return false;
    DialogTemplate out;
    in.Skip(8);  // help id, extended style
    const std::uint32_t style = in.Read(4);
    const std::uint32_t count = in.Read(2);
    in.Skip(4);  // x, y
    out.cx = static_cast<std::int16_t>(in.Read(2));
    out.cy = static_cast<std::int16_t>(in.Read(2));
    in.SkipNameOrNumber();  // menu
    in.SkipNameOrNumber();  // class
    in.SkipText();          // caption
    if (style & DIALOG_SETFONT) {
        out.pointSize = static_cast<std::uint16_t>(in.Read(2));
        in.Skip(4);  // weight, italic, character set
        in.SkipText();
    }
    for (std::uint32_t i = 0; i < count && in.Ok(); ++i) {
        in.AlignTo4();
        in.Skip(12);  // help id, extended style, style
        DialogItem item;
        item.x = static_cast<std::int16_t>(in.Read(2));
        item.y = static_cast<std::int16_t>(in.Read(2));
        item.cx = static_cast<std::int16_t>(in.Read(2));
        item.cy = static_cast<std::int16_t>(in.Read(2));
        item.id = in.Read(4);
        in.SkipNameOrNumber();  // class
        in.SkipNameOrNumber();  // text
        in.Skip(in.Read(2));    // creation data
        out.items.push_back(item);
    }
    if (!in.Ok())
        return false;
    *layout = out;
    return true;
}
