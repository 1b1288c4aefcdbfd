// An in-memory Windows machine behind the platform seam, for host tests.
//
// Areas are separate classes that share the machine's last error, handle table and
// fault plan. Tests arrange the machine, run portable code against it and assert on its
// end state.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake/fault_plan.h"
#include "platform/platform.h"

namespace fake {

class CFakeMachine;

// Windows path comparison: case-insensitive, '/' and '\' alike.
struct PathLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SamePath(const std::string& a, const std::string& b);
std::string NormalizePath(const std::string& path);  // '/' to '\', no trailing separator
std::string ParentPath(const std::string& path);     // "" for a root

// An area that hands out kernel handles and is asked to close them.
class IHandleOwner {
public:
    virtual ~IHandleOwner() = default;
    virtual void CloseOwned(os::HANDLE handle) = 0;
};

class CFakeKernel final : public os::IKernel {
public:
    explicit CFakeKernel(CFakeMachine& machine) : m_machine(machine) {}

    os::DWORD GetLastError() override;
    void SetLastError(os::DWORD error) override;
    os::BOOL CloseHandle(os::HANDLE handle) override;
    os::DWORD GetModuleFileNameA(char* buffer, os::DWORD size) override;
    os::DWORD GetTickCount() override;
    void Sleep(os::DWORD milliseconds) override;
    os::BOOL GenRandom(void* buffer, os::DWORD size) override;
    os::BOOL GetVersionExA(os::OsVersion* version) override;
    os::DWORD GetWindowsDirectoryA(char* buffer, os::DWORD size) override;
    os::DWORD GetTempPathA(os::DWORD size, char* buffer) override;
    os::DWORD GetSystemDirectoryA(char* buffer, os::DWORD size) override;
    os::DWORD GetSystemWow64DirectoryA(char* buffer, os::DWORD size) override;
    os::DWORD GetCurrentDirectoryA(os::DWORD size, char* buffer) override;
    void* VirtualAlloc(std::size_t size) override;
    os::BOOL VirtualFree(void* block) override;
    void OutputDebugStringA(const char* text) override;
    void GetLocalTime(os::SystemTime* time) override;

    // The machine's settings; tests change them freely.
    std::string modulePath = "C:\\setup\\tsport_setup.exe";
    std::string windowsDirectory = "C:\\Windows";
    std::string tempPath = "C:\\Users\\setup\\AppData\\Local\\Temp\\";
    std::string systemDirectory = "C:\\Windows\\system32";
    std::string wow64Directory = "C:\\Windows\\SysWOW64";  // empty: a 32-bit Windows
    std::string currentDirectory = "C:\\setup";
    os::OsVersion version = DefaultVersion();
    os::DWORD tickCount = 1000000;      // advanced by Sleep and tickStep
    os::DWORD tickStep = 0;             // added on every GetTickCount
    os::DWORD sleptMilliseconds = 0;    // all Sleep calls together
    std::vector<os::DWORD> sleeps;      // every Sleep asked for, in order
    std::vector<std::string> debugOutput;
    os::SystemTime localTime = {2024, 3, 2, 5, 14, 30, 0, 0};  // Tuesday, 5 March 2024, 14:30
    std::size_t liveVirtualBlocks() const { return m_blocks.size(); }

    static os::OsVersion DefaultVersion();  // Windows 7 SP1 workstation, as a new Wine prefix

private:
    CFakeMachine& m_machine;
    std::uint64_t m_randomState = 0x9E3779B97F4A7C15u;  // a fixed sequence: tests repeat
    std::map<void*, std::unique_ptr<std::uint8_t[]>> m_blocks;
};

class CFakeFiles final : public os::IFiles, public IHandleOwner {
public:
    explicit CFakeFiles(CFakeMachine& machine);
    ~CFakeFiles() override;

    os::HANDLE CreateFileA(const char* path, os::DWORD access, os::DWORD shareMode, os::DWORD disposition,
                           os::DWORD attributes) override;
    os::DWORD GetFileSize(os::HANDLE file) override;
    os::DWORD SetFilePointer(os::HANDLE file, os::LONG distance, os::DWORD origin) override;
    os::BOOL ReadFile(os::HANDLE file, void* buffer, os::DWORD size, os::DWORD* read) override;
    os::BOOL WriteFile(os::HANDLE file, const void* buffer, os::DWORD size, os::DWORD* written) override;
    os::BOOL SetEndOfFile(os::HANDLE file) override;
    os::BOOL FlushFileBuffers(os::HANDLE file) override;
    os::BOOL GetFileInformationByHandle(os::HANDLE file, os::DWORD* attributes, os::DWORD* links) override;
    os::HANDLE FindFirstFileA(const char* path, os::FindData* data) override;
    os::BOOL FindClose(os::HANDLE find) override;
    os::DWORD GetFileAttributesA(const char* path) override;
    os::BOOL SetFileAttributesA(const char* path, os::DWORD attributes) override;
    os::BOOL CopyFileA(const char* from, const char* to, os::BOOL failIfExists) override;
    os::BOOL MoveFileExA(const char* from, const char* to, os::DWORD flags) override;
    os::BOOL DeleteFileA(const char* path) override;
    os::BOOL CreateDirectoryA(const char* path, const char* security) override;
    os::BOOL RemoveDirectoryA(const char* path) override;

    void CloseOwned(os::HANDLE handle) override;

    // Arranging and inspecting the machine (never fail, never counted).
    void PutFile(const std::string& path, const std::vector<std::uint8_t>& content,
                 os::DWORD attributes = 0x80 /* FILE_ATTRIBUTE_NORMAL */);
    void PutFile(const std::string& path, const std::string& content);
    void MakeDirectory(const std::string& path);  // with its parents
    // Another name for target's data (a hard link), or a reparse point that opening follows
    // to target unless FILE_FLAG_OPEN_REPARSE_POINT is given.
    void PutHardLink(const std::string& link, const std::string& target);
    void PutSymbolicLink(const std::string& link, const std::string& target);
    // The owner ("BA", "S-1-5-...") and access list ("D:...") GetSecurityText reports.
    // New files and folders are an administrator's, with the list they were made with.
    void SetSecurity(const std::string& path, const std::string& owner, const std::string& accessList);
    std::string AccessList(const std::string& path) const;
    // The security text of what an open handle reaches (for the security area).
    bool SecurityOfHandle(os::HANDLE file, std::string* sddl) const;
    void Remove(const std::string& path);         // a file, or a directory with all it holds
    bool FileExists(const std::string& path) const;
    bool DirectoryExists(const std::string& path) const;
    // Content of a file; empty when there is none.
    std::vector<std::uint8_t> Content(const std::string& path) const;
    std::string Text(const std::string& path) const;
    os::DWORD Attributes(const std::string& path) const;  // INVALID_FILE_ATTRIBUTES when absent
    // Another process holds the file open with this access and sharing until Unlock.
    void Lock(const std::string& path, os::DWORD access, os::DWORD shareMode);
    void Unlock(const std::string& path);
    // A program runs from the file until a restart: it cannot be deleted (ERROR_ACCESS_DENIED)
    // or written (ERROR_SHARING_VIOLATION) but can be moved, and the program goes with it.
    void MarkRunning(const std::string& path);
    bool IsRunning(const std::string& path) const;
    std::size_t OpenHandleCount() const;  // file and find handles opened through the seam, not closed
    std::vector<std::string> ListFiles() const;                       // every file, in path order
    std::vector<std::string> ListFilesUnder(const std::string& directory) const;  // recursively
    std::vector<std::string> ListDirectories() const;

    // Operations registered for the next start (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT),
    // in registration order; an empty destination is a deletion.
    struct PendingOperation {
        std::string from;
        std::string to;
        os::DWORD flags;
    };
    const std::vector<PendingOperation>& PendingOperations() const { return m_pending; }
    // Carries out the pending operations as Windows does at start, then forgets them.
    // Unlocks every file first: no process survives a restart.
    void Restart();

    // A snapshot of every file and directory with content and attributes, for comparing
    // the machine before and after.
    std::map<std::string, std::string> Snapshot() const;

private:
    struct Node {
        std::string name;  // the path as first created, original case
        bool directory = false;
        std::vector<std::uint8_t> data;
        os::DWORD attributes = 0;
        std::string linkOf;  // a link: the key of what it names
        std::string owner = "BA";
        std::string accessList = DEFAULT_ACCESS_LIST;
    };
    static constexpr const char* DEFAULT_ACCESS_LIST = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    // The key whose data an open of key reaches.
    std::string Resolve(const std::string& key, bool followReparse) const;
    struct Open {
        std::string key;
        os::DWORD access = 0;
        os::DWORD share = 0;
        std::size_t position = 0;
        bool external = false;  // held by another process
    };
    Open* FindOpen(os::HANDLE file);
    bool SharingConflict(const std::string& key, os::DWORD access, os::DWORD share) const;
    bool HeldWithoutDeleteSharing(const std::string& key) const;
    bool HasChildren(const std::string& key) const;
    bool Fail(const char* call);
    bool SetError(os::DWORD error);  // sets the last error, returns false

    CFakeMachine& m_machine;
    std::map<std::string, Node, PathLess> m_nodes;
    std::map<std::uintptr_t, Open> m_opens;
    std::map<std::uintptr_t, std::string> m_finds;
    std::vector<PendingOperation> m_pending;
    std::vector<std::string> m_running;  // images of running programs
};

class CFakeSecurity;
class CFakeServices;
class CFakeRegistry;
class CFakeShell;
class CFakeDevices;
class CFakeFirewall;
class CFakeProcesses;

class CFakeMachine {
public:
    CFakeMachine();
    ~CFakeMachine();
    CFakeMachine(const CFakeMachine&) = delete;
    CFakeMachine& operator=(const CFakeMachine&) = delete;

    // Makes this machine the one the portable code talks to (done by the constructor;
    // the destructor restores the machine that was current before).
    void Install();

    CFaultPlan& Faults() { return m_faults; }
    // Counts a fallible call; when the plan fails it, sets the last error and returns true.
    bool Fail(const char* call);

    // The machine-wide handle table: every kernel handle an area gives out.
    os::HANDLE NewHandle(IHandleOwner* owner);
    IHandleOwner* HandleOwner(os::HANDLE handle) const;
    void ForgetHandle(os::HANDLE handle);

    os::DWORD lastError = 0;
    CFakeKernel kernel;
    CFakeFiles files;
    CFakeSecurity& security;
    CFakeServices& services;
    CFakeRegistry& registry;
    CFakeShell& shell;
    CFakeDevices& devices;
    CFakeFirewall& firewall;
    CFakeProcesses& processes;

private:
    CFaultPlan m_faults;
    os::Platform m_previous;
    // Areas declared in their own headers, owned here.
    std::unique_ptr<CFakeSecurity> m_security;
    std::unique_ptr<CFakeServices> m_services;
    std::unique_ptr<CFakeRegistry> m_registry;
    std::unique_ptr<CFakeShell> m_shell;
    std::unique_ptr<CFakeDevices> m_devices;
    std::unique_ptr<CFakeFirewall> m_firewall;
    std::unique_ptr<CFakeProcesses> m_processes;
    std::map<std::uintptr_t, IHandleOwner*> m_handles;
    std::uintptr_t m_nextHandle = 0x100;
};

}  // namespace fake
