// An in-memory Windows machine behind the platform seam, for host tests.
//
// Areas are separate classes that share the machine's last error and fault plan.
// Tests arrange the machine, run portable code against it and assert on its end state.
#pragma once

#include <cstdint>
#include <map>
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
std::string NormalizePath(const std::string& path);  // '/' to '\', no trailing separator
std::string ParentPath(const std::string& path);     // "" for a root

class CFakeKernel final : public os::IKernel {
public:
    explicit CFakeKernel(CFakeMachine& machine) : m_machine(machine) {}

    os::DWORD GetLastError() override;
    void SetLastError(os::DWORD error) override;
    os::DWORD GetModuleFileNameA(char* buffer, os::DWORD size) override;

    std::string modulePath = "C:\\setup\\tsport_setup.exe";

private:
    CFakeMachine& m_machine;
};

class CFakeFiles final : public os::IFiles {
public:
    explicit CFakeFiles(CFakeMachine& machine);
    ~CFakeFiles() override;

    os::HANDLE CreateFileA(const char* path, os::DWORD access, os::DWORD shareMode, os::DWORD disposition,
                           os::DWORD attributes) override;
    os::BOOL CloseHandle(os::HANDLE file) override;
    os::DWORD GetFileSize(os::HANDLE file) override;
    os::DWORD SetFilePointer(os::HANDLE file, os::LONG distance, os::DWORD origin) override;
    os::BOOL ReadFile(os::HANDLE file, void* buffer, os::DWORD size, os::DWORD* read) override;
    os::BOOL WriteFile(os::HANDLE file, const void* buffer, os::DWORD size, os::DWORD* written) override;

    // Arranging and inspecting the machine (never fail, never counted).
    void PutFile(const std::string& path, const std::vector<std::uint8_t>& content,
                 os::DWORD attributes = 0x80 /* FILE_ATTRIBUTE_NORMAL */);
    void PutFile(const std::string& path, const std::string& content);
    void MakeDirectory(const std::string& path);  // with its parents
    bool FileExists(const std::string& path) const;
    bool DirectoryExists(const std::string& path) const;
    // Content of a file; empty when there is none.
    std::vector<std::uint8_t> Content(const std::string& path) const;
    std::string Text(const std::string& path) const;
    // Another process holds the file open with this access and sharing until Unlock.
    void Lock(const std::string& path, os::DWORD access, os::DWORD shareMode);
    void Unlock(const std::string& path);
    std::size_t OpenHandleCount() const;  // handles opened through the seam and not closed
    std::vector<std::string> ListFiles() const;  // every file, in path order

private:
    struct Node {
        std::string name;  // the path as first created, original case
        bool directory = false;
        std::vector<std::uint8_t> data;
        os::DWORD attributes = 0;
    };
    struct Open {
        std::string key;
        os::DWORD access = 0;
        os::DWORD share = 0;
        std::size_t position = 0;
        bool external = false;  // held by another process
    };
    Open* FindOpen(os::HANDLE file);
    bool SharingConflict(const std::string& key, os::DWORD access, os::DWORD share) const;
    bool Fail(const char* call);

    CFakeMachine& m_machine;
    std::map<std::string, Node, PathLess> m_nodes;
    std::map<std::uintptr_t, Open> m_opens;
    std::uintptr_t m_nextHandle = 0x100;
};

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

    os::DWORD lastError = 0;
    CFakeKernel kernel;
    CFakeFiles files;

private:
    CFaultPlan m_faults;
    os::Platform m_previous;
};

}  // namespace fake
