#include "engine/trust.h"

#include <cstdlib>
#include <cstring>

#include "platform/constants.h"

namespace {

constexpr std::size_t NAME_DIGITS = 8;
// Written, read back (a log is copied from its own handle) and judged by its owner.
constexpr os::DWORD WRITE_ACCESS = os::GENERIC_READ | os::GENERIC_WRITE | os::READ_CONTROL;
constexpr int NAME_ATTEMPTS = 8;

// Access rights that let their holder change a file or a folder's content: write or append
// (add a file or folder), delete a child or the object, change its access list or owner.
constexpr os::DWORD CHANGE_RIGHTS = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// The two-letter access codes of SDDL, and their bits in the same order.
constexpr char RIGHT_CODES[] = "GAGRGWGXRCSDWDWOCCDCLCSWRPWPDTLOCRFAFRFWFX";
constexpr os::DWORD RIGHT_BITS[] = {
    0x10000000, 0x80000000, 0x40000000, 0x20000000, 0x20000, 0x10000, 0x40000, 0x80000, 0x1,      0x2,     0x4,
    0x8,        0x10,       0x20,       0x40,       0x80,    0x100,   0x1F01FF, 0x120089, 0x120116, 0x1200A0,
};
static_assert(sizeof RIGHT_CODES - 1 == 2 * sizeof RIGHT_BITS / sizeof RIGHT_BITS[0], "a code for every bit set");

// Accounts whose files and rights are this program's business anyway: SYSTEM,
// administrators, the installer service. Entries that name nobody of their own ("CO", "CG":
// passed on to a creator; "OW": the owner, who is judged as the owner) count as trusted too.
const char* const TRUSTED_ACCOUNTS[] = {
    "SY", "S-1-5-18", "BA", "S-1-5-32-544", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    "CO", "CG",       "OW",
};

// This program's own account ("S-1-5-21-..."): its files are not someone else's.
std::string OwnAccount() {
    std::string account;
    os::KernelHandle token;
    if (os::Security().OpenProcessToken(os::TOKEN_QUERY, token.Receive())) {
        os::Security().GetTokenUserText(token.Get(), &account);
    } else {
        token.Release();
    }
    return account;
}

// The account text at text: "S-1-..." or a two-letter alias; its length.
std::size_t AccountLength(const char* text) {
    if (text[0] == 'S' && text[1] == '-') return std::strspn(text, "S-0123456789");
    return text[0] != '\0' && text[1] != '\0' ? 2 : 0;
}

bool Trusted(const char* account, std::size_t length, const std::string& own) {
    if (length == 0) return false;
    if (length == own.size() && own.compare(0, length, account, length) == 0) return true;
    for (const char* trusted : TRUSTED_ACCOUNTS) {
        if (std::strlen(trusted) == length && std::strncmp(trusted, account, length) == 0) return true;
    }
    return false;
}

bool TrustedOwner(const std::string& sddl, const std::string& own) {
    const std::size_t at = sddl.find("O:");
    if (at == std::string::npos) return false;
    const char* owner = sddl.c_str() + at + 2;
    return Trusted(owner, AccountLength(owner), own);
}

// The bits of an access field of the given length: "0x1200a9" or two-letter codes. What
// cannot be read counts as every right, so that it is never taken for harmless.
os::DWORD RightsOf(const char* field, std::size_t length) {
    if (length > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X')) {
        char* end = nullptr;
        const unsigned long bits = std::strtoul(field, &end, 16);
        return end == field + length ? static_cast<os::DWORD>(bits) : 0xFFFFFFFFu;
    }
    if (length % 2 != 0) return 0xFFFFFFFFu;
    os::DWORD bits = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        std::size_t code = 0;
        while (code < sizeof RIGHT_BITS / sizeof RIGHT_BITS[0] && std::strncmp(RIGHT_CODES + 2 * code, field + i, 2) != 0) {
            ++code;
        }
        if (code == sizeof RIGHT_BITS / sizeof RIGHT_BITS[0]) return 0xFFFFFFFFu;
        bits |= RIGHT_BITS[code];
    }
    return bits;
}

// Judges a security descriptor in SDDL form: true when an account that is not trusted owns
// it or is allowed a change right on the object itself.
bool OthersCanChangeDescriptor(const std::string& sddl, const std::string& own) {
    if (!TrustedOwner(sddl, own)) return true;
    const std::size_t list = sddl.find("D:");
    // No list, or "D:NO_ACCESS_CONTROL" (a null list): everyone may do everything.
    if (list == std::string::npos || sddl.compare(list + 2, 17, "NO_ACCESS_CONTROL") == 0) return true;
    // Each entry: "(type;flags;rights;object;inherited object;account)".
    for (const char* entry = std::strchr(sddl.c_str() + list, '('); entry != nullptr;
         entry = std::strchr(entry + 1, '(')) {
        const char* field[6] = {entry + 1};
        for (int i = 1; i < 6; ++i) {
            field[i] = std::strchr(field[i - 1], ';');
            if (field[i] == nullptr) return true;
            ++field[i];
        }
        // Only what allows, and applies to the object itself (not inherit-only), gives a right.
        bool applies = field[1] - field[0] == 2 && field[0][0] == 'A';
        for (const char* flag = field[1]; applies && flag + 2 < field[2]; flag += 2) {
            applies = std::strncmp(flag, "IO", 2) != 0;
        }
        if (!applies) continue;
        if (Trusted(field[5], AccountLength(field[5]), own)) continue;
        if ((RightsOf(field[2], static_cast<std::size_t>(field[3] - field[2] - 1)) & CHANGE_RIGHTS) != 0) return true;
    }
    return false;
}

// A plain file with one name, owned by a trusted account: one this program may write into.
bool IsTrustedFile(os::HANDLE file, const std::string& own) {
    os::DWORD attributes = 0, links = 0;
    if (!os::Files().GetFileInformationByHandle(file, &attributes, &links)) return false;
    if (links != 1 || (attributes & (os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return false;
    }
    std::string sddl;
    return os::Security().GetSecurityText(file, &sddl) && TrustedOwner(sddl, own);
}

os::HANDLE CreateNew(const std::string& path, os::DWORD share) {
    return os::Files().CreateFileA(path.c_str(), WRITE_ACCESS, share, os::CREATE_NEW,
                                   os::FILE_ATTRIBUTE_NORMAL | os::FILE_FLAG_OPEN_REPARSE_POINT);
}

// "C:\T\name-DDDDDDDD.log" for "C:\T\name.log".
bool FreshName(const std::string& path, std::string* fresh) {
    std::string digits;
    if (!RandomDigits(NAME_DIGITS, &digits)) return false;
    const std::size_t slash = path.find_last_of('\\');
    const std::size_t dot = path.find_last_of('.');
    const std::size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : path.size();
    *fresh = path.substr(0, at) + "-" + digits + path.substr(at);
    return true;
}

}  // namespace

bool RandomDigits(std::size_t count, std::string* digits) {
    digits->clear();
    while (digits->size() < count) {
        os::BYTE bytes[16];
        if (!os::Kernel().GenRandom(bytes, sizeof bytes)) return false;
        // 252 = 28 * 9: larger values are dropped so that every digit is equally likely.
        for (os::BYTE b : bytes) {
            if (b < 252 && digits->size() < count) *digits += static_cast<char>('1' + b % 9);
        }
    }
    return true;
}

bool CreatePrivateFolder(const std::string& parent, std::string* folder) {
    std::string base = parent;
    if (!base.empty() && base.back() != '\\') base += '\\';
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        std::string digits;
        if (!RandomDigits(NAME_DIGITS, &digits)) return false;
        const std::string candidate = base + digits;
        if (os::Files().CreateDirectoryA(candidate.c_str(), SDDL_PRIVATE_FOLDER)) {
            *folder = candidate;
            return true;
        }
        if (os::Kernel().GetLastError() != os::ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool OpenForTrustedWrite(const std::string& path, os::DWORD share, WriteStart start, TrustedFile* file) {
    file->renamed = false;
    file->path = path;
    file->handle.Reset(CreateNew(path, share));
    if (file->handle.IsValid()) return true;
    const os::DWORD error = os::Kernel().GetLastError();
    if (error == os::ERROR_FILE_EXISTS || error == os::ERROR_ALREADY_EXISTS) {
        // Opened without following a link, and judged by what the handle reaches.
        file->handle.Reset(os::Files().CreateFileA(path.c_str(), WRITE_ACCESS, share,
                                                   os::OPEN_EXISTING,
                                                   os::FILE_ATTRIBUTE_NORMAL | os::FILE_FLAG_OPEN_REPARSE_POINT));
        if (file->handle.IsValid() && IsTrustedFile(file->handle.Get(), OwnAccount())) {
            const bool placed = start == WriteStart::Empty
                                    ? os::Files().SetEndOfFile(file->handle.Get()) != 0
                                    : os::Files().SetFilePointer(file->handle.Get(), 0, os::FILE_END) !=
                                          os::INVALID_SET_FILE_POINTER;
            if (placed) return true;
        }
        file->handle.Reset();
        // Deleting a link takes away only that name, never what it points at.
        if (os::Files().DeleteFileA(path.c_str())) {
            file->handle.Reset(CreateNew(path, share));
            if (file->handle.IsValid()) return true;
        }
    }
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        std::string fresh;
        if (!FreshName(path, &fresh)) return false;
        file->handle.Reset(CreateNew(fresh, share));
        if (file->handle.IsValid()) {
            file->path = fresh;
            file->renamed = true;
            return true;
        }
        if (os::Kernel().GetLastError() != os::ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool CopyFileContent(os::HANDLE from, os::HANDLE to) {
    // What is there now, however much others sharing the file may add meanwhile.
    const os::DWORD size = os::Files().GetFileSize(from);
    if (size == os::INVALID_FILE_SIZE || os::Files().SetFilePointer(from, 0, os::FILE_BEGIN) != 0) return false;
    bool whole = true;
    os::BYTE chunk[4096];
    for (os::DWORD copied = 0; copied < size;) {
        os::DWORD read = 0;
        const os::DWORD want = size - copied < sizeof chunk ? size - copied : static_cast<os::DWORD>(sizeof chunk);
        if (!os::Files().ReadFile(from, chunk, want, &read) || read == 0) {
            whole = false;
            break;
        }
        copied += read;
        os::DWORD written = 0;
        if (!os::Files().WriteFile(to, chunk, read, &written) || written != read) {
            whole = false;
            break;
        }
    }
    os::Files().SetFilePointer(from, 0, os::FILE_END);
    return whole;
}

bool OthersCanChange(const std::string& path) {
    os::KernelHandle object(os::Files().CreateFileA(
        path.c_str(), os::READ_CONTROL, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE,
        os::OPEN_EXISTING, os::FILE_FLAG_BACKUP_SEMANTICS));
    std::string sddl;
    if (!object.IsValid() || !os::Security().GetSecurityText(object.Get(), &sddl)) return true;
    return OthersCanChangeDescriptor(sddl, OwnAccount());
}
