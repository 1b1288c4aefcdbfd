#include "package/keyed_table.h"

std::size_t LowerKeyBound(const std::string* firstKey, std::size_t count, std::size_t stride, std::string_view key) {
    const auto* rows = reinterpret_cast<const char*>(firstKey);
    std::size_t low = 0, high = count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (std::string_view(*reinterpret_cast<const std::string*>(rows + middle * stride)) < key) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}
