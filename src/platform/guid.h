// A GUID laid out as Windows lays it out, without <windows.h>.
#pragma once

#include <cstring>

#include "platform/types.h"

namespace os {

struct Guid {
    DWORD data1;
    WORD data2;
    WORD data3;
    BYTE data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

}  // namespace os
