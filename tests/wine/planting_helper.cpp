// The Windows side of the planting sweep.
//   planting_helper hold SERVICE READYFILE STOPFILE SECONDS
//       creates SERVICE, deletes it and keeps a handle open, so that it stays marked for
//       deletion; writes READYFILE once that holds; lets go after SECONDS or at STOPFILE.
//   planting_helper writable FOLDER
//       exits 0 when ordinary users could create files in FOLDER, 1 if its own access list
//       keeps them out.
//   planting_helper run FILE SECONDS
//       runs the first line of FILE as a command line, exactly as written, waits at most
//       SECONDS and exits with its exit code.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
struct ServiceHandle {
    SC_HANDLE h;
    ~ServiceHandle() {
        if (h != nullptr) CloseServiceHandle(h);
    }
};

int Hold(const char* name, const char* ready, const char* stop, int seconds) {
    ServiceHandle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (manager.h == nullptr) return 3;
    ServiceHandle service{CreateServiceA(manager.h, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                         "C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr,
                                         nullptr)};
    if (service.h == nullptr || !DeleteService(service.h)) return 4;
    // Marked for deletion: a second create is refused with 1072 while the handle is held.
    ServiceHandle again{CreateServiceA(manager.h, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, "C:\\windows\\system32\\notepad.exe",
                                       nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (again.h != nullptr || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) return 5;
    Handle marker{CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (marker.h == INVALID_HANDLE_VALUE) return 6;
    const DWORD limit = static_cast<DWORD>(seconds) * 1000;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    return 0;
}

// Whether an access-list entry lets someone other than SYSTEM and Administrators add a file.
bool OthersMayWrite(const ACE_HEADER* header) {
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) return false;
    auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    const ACCESS_MASK add = FILE_ADD_FILE | GENERIC_WRITE | GENERIC_ALL;
    return (ace->Mask & add) != 0 && !IsWellKnownSid(sid, WinLocalSystemSid) &&
           !IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// A folder keeps ordinary users out only by an access list of its own (not inherited from
// its parent) that lets nobody but SYSTEM and Administrators add files.
int Writable(const char* folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return 2;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    bool writable = dacl == nullptr || (control & SE_DACL_PROTECTED) == 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !writable; ++i) {
        ACE_HEADER* header = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&header)) && OthersMayWrite(header)) writable = true;
    }
    LocalFree(descriptor);
    std::printf("%s: %s\n", folder, writable ? "users can write" : "only SYSTEM and Administrators can write");
    return writable ? 0 : 1;
}

int Run(const char* file, int seconds) {
    char command[4096] = {};
    FILE* in = std::fopen(file, "rb");
    if (in == nullptr) return 3;
    const bool read = std::fgets(command, sizeof command, in) != nullptr;
    std::fclose(in);
    if (!read) return 3;
    command[std::strcspn(command, "\r\n")] = '\0';
    std::printf("running: %s\n", command);
    std::fflush(stdout);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) return 4;
    Handle process{started.hProcess};
    Handle thread{started.hThread};
    if (WaitForSingleObject(process.h, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process.h, 5);
        WaitForSingleObject(process.h, 5000);
        std::printf("still running after %d s: ended\n", seconds);
        return 5;
    }
    DWORD code = 6;
    GetExitCodeProcess(process.h, &code);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    if (argc == 3 && std::strcmp(argv[1], "writable") == 0) return Writable(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "run") == 0) return Run(argv[2], std::atoi(argv[3]));
    std::printf("usage: planting_helper hold|writable|run ...\n");
    return 2;
}
