// Processes, named events and named pipes of the in-memory machine.
//
// Programs are files of the machine with a scripted behaviour. Time is the kernel's tick
// count: waiting never blocks, it moves the clock on to the moment the object is signalled
// or the time-out runs out. Pipe servers speak the product's handshake and version query.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake/fake_machine.h"

namespace fake {

class CFakeProcesses final : public os::IProcesses, public IHandleOwner {
public:
    explicit CFakeProcesses(CFakeMachine& machine);
    ~CFakeProcesses() override;

    os::BOOL CreateProcessA(const char* applicationName, char* commandLine, os::BOOL inheritHandles,
                            os::DWORD creationFlags, const char* currentDirectory,
                            os::ProcessInformation* information) override;
    os::BOOL TerminateProcess(os::HANDLE process, os::UINT exitCode) override;
    os::BOOL GetExitCodeProcess(os::HANDLE process, os::DWORD* exitCode) override;
    os::DWORD GetCurrentProcessId() override;
    os::BOOL ProcessIdToSessionId(os::DWORD processId, os::DWORD* sessionId) override;
    os::DWORD WaitForSingleObject(os::HANDLE handle, os::DWORD milliseconds) override;
    os::HANDLE CreateEventA(os::BOOL manualReset, os::BOOL initialState, const char* name,
                            const char* security) override;
    os::HANDLE OpenEventA(os::DWORD access, os::BOOL inheritHandle, const char* name) override;
    os::BOOL SetEvent(os::HANDLE event) override;
    os::BOOL ResetEvent(os::HANDLE event) override;
    os::BOOL WaitNamedPipeA(const char* name, os::DWORD timeout) override;
    os::BOOL PeekNamedPipe(os::HANDLE pipe, void* buffer, os::DWORD size, os::DWORD* read,
                           os::DWORD* totalAvailable, os::DWORD* leftThisMessage) override;
    std::intptr_t ShellExecuteA(os::HWND owner, const char* operation, const char* file, const char* parameters,
                                const char* directory, int showCommand) override;

    void CloseOwned(os::HANDLE handle) override;

    // ---- programs -------------------------------------------------------------------------
    struct Program {
        os::DWORD runMilliseconds = 0;  // fake time from its start to its exit
        os::DWORD exitCode = 0;
        bool hangs = false;             // never exits on its own
        std::string signalsEvent;       // a named event it sets just before it exits
    };
    // A program file (created when absent) and what it does when started. A file without a
    // script exits with 0 at once.
    void AddProgram(const std::string& path, const Program& program);

    // Every process started, in order.
    struct Launch {
        std::string image;             // the file that ran
        std::string commandLine;       // exactly as passed
        std::string currentDirectory;  // the one it started in
        os::BOOL inheritHandles = 0;
        os::DWORD creationFlags = 0;
        bool running = true;
        bool terminated = false;  // ended by TerminateProcess
        os::DWORD exitCode = 0;   // once ended
    };
    // Brings the processes up to the clock first.
    const std::vector<Launch>& Launches();

    std::string currentDirectory = "C:\\setup";  // the installer's own
    os::DWORD currentProcessId = 0x1F4C;
    os::DWORD sessionId = 1;  // every Wine process runs in session 1

    // ---- named events ---------------------------------------------------------------------
    // An event held open by another process until DropEvent (the running product's
    // presence event, for instance).
    void AddEvent(const std::string& name, bool manualReset, bool signalled);
    void DropEvent(const std::string& name);
    bool EventExists(const std::string& name) const;
    bool EventSignalled(const std::string& name) const;
    // Every CreateEventA call with the kind and the initial state it asked for, in order.
    struct EventRequest {
        std::string name;  // empty for an unnamed event
        os::BOOL manualReset = 0;
        os::BOOL initialState = 0;
        std::string security;  // the SDDL asked for; empty for the default
    };
    std::vector<EventRequest> eventRequests;
    // Every WaitForSingleObject call: what was waited for and for how long, in order.
    struct WaitRequest {
        std::string object;  // "process <image>", "thread <image>", "event <name>" or "unknown"
        os::DWORD milliseconds = 0;
    };
    std::vector<WaitRequest> waitRequests;

    // ---- named pipes ----------------------------------------------------------------------
    struct PipeServer {
        // Availability: instances taken by other clients for busyMilliseconds from when the
        // server was added (INFINITE: for good); one instance in all.
        os::DWORD busyMilliseconds = 0;
        // The answers. The server sends at most answerLimit bytes on a connection and then
        // closes its end; its bytes arrive answerDelay ms after the request (INFINITE: never).
        os::DWORD askedAbilities = 3;
        os::DWORD version = 0x00037000;
        std::string versionText = "3.7";
        bool overrideLength = false;  // send declaredLength instead of the text's size
        os::DWORD declaredLength = 0;
        std::size_t answerLimit = SIZE_MAX;
        os::DWORD answerDelay = 0;
        // What happened.
        unsigned connections = 0;
        std::vector<std::uint8_t> received;  // every byte clients wrote
        std::vector<os::DWORD> ReceivedWords() const;  // the same, as little-endian 32-bit values
        os::DWORD addedAt = 0;
    };
    // name: "\\.\pipe\..."; the returned server stays valid until RemovePipeServer.
    PipeServer& AddPipeServer(const std::string& name);
    void RemovePipeServer(const std::string& name);

    // The files area hands pipe names and pipe handles over to this area.
    static bool IsPipeName(const char* path);
    bool IsPipe(os::HANDLE handle) const;
    os::HANDLE OpenPipe(const char* name, os::DWORD access, os::DWORD flags);
    // The flags (FILE_FLAG_*, SECURITY_*) of every opening of a pipe, in order.
    std::vector<os::DWORD> pipeOpenFlags;
    os::BOOL ReadPipe(os::HANDLE pipe, void* buffer, os::DWORD size, os::DWORD* read);
    os::BOOL WritePipe(os::HANDLE pipe, const void* buffer, os::DWORD size, os::DWORD* written);

    // ---- shell ----------------------------------------------------------------------------
    struct ShellCall {
        std::string operation, file, parameters, directory;
        int showCommand = 0;
    };
    std::vector<ShellCall> shellCalls;

    // ---- accounting -----------------------------------------------------------------------
    std::size_t OpenHandleCount() const { return m_handles.size(); }
    // Waits and reads that could only end by blocking for good; a correct caller makes none.
    unsigned foreverWaits = 0;
    // Fake time spent in waits of this area.
    os::DWORD waitedMilliseconds = 0;

private:
    enum class Kind { Process, Thread, Event, Pipe };
    struct HandleEntry {
        Kind kind;
        std::size_t process = 0;  // Process, Thread: index into m_processes
        std::string name;         // Event: key in m_events
        os::DWORD access = 0;
        std::uint64_t pipe = 0;   // Pipe: key in m_pipes
    };
    struct Process {
        Program program;
        os::DWORD startTick = 0;
    };
    struct Event {
        bool manualReset = true;
        bool signalled = false;
        unsigned handles = 0;
        bool heldElsewhere = false;
    };
    struct Connection {
        std::string server;
        std::vector<std::uint8_t> pending;  // client bytes the server has not taken yet
        std::vector<std::uint8_t> out;      // server bytes the client has not read yet
        std::size_t sent = 0;
        os::DWORD visibleAt = 0;
        bool neverVisible = false;
        bool serverClosed = false;
        int stage = 0;  // 0 abilities, 1 session id, 2 process id, 3 requests
    };

    bool Fail(const char* call);
    bool SetError(os::DWORD error);
    os::DWORD Now() const;
    void Advance(os::DWORD milliseconds);
    void Update();
    void Finish(std::size_t index, os::DWORD exitCode, bool terminated);
    bool Ended(std::size_t index) const;
    // Fake time until the program ends on its own; false when it never does.
    bool TimeToEnd(std::size_t index, os::DWORD* remaining) const;
    HandleEntry* Entry(os::HANDLE handle);
    os::HANDLE NewEntry(HandleEntry entry);
    std::string Resolve(const char* applicationName, const std::string& commandLine) const;
    bool PipeBusy(const std::string& name) const;
    void Serve(Connection& connection);
    void Send(Connection& connection, os::DWORD value);
    void SendBytes(Connection& connection, const std::string& bytes);
    bool Visible(const Connection& connection) const;

    CFakeMachine& m_machine;
    std::map<std::string, Program, PathLess> m_programs;
    std::vector<Launch> m_launches;
    std::vector<Process> m_processes;  // parallel to m_launches
    std::map<std::string, Event> m_events;
    std::map<std::string, std::unique_ptr<PipeServer>, PathLess> m_servers;
    std::map<std::uint64_t, Connection> m_pipes;
    std::uint64_t m_nextPipe = 1;
    unsigned m_nextAnonymous = 1;
    std::map<std::uintptr_t, HandleEntry> m_handles;
};

}  // namespace fake
