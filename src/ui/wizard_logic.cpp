#include "ui/wizard_logic.h"

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
