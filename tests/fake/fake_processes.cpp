#include "fake/fake_processes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/constants.h"

namespace fake {

using namespace os;

namespace {

constexpr DWORD REQUEST_VERSION = 0x00003007;
constexpr DWORD PIPE_DEFAULT_WAIT = 50;  // what a server of ours gives NMPWAIT_USE_DEFAULT_WAIT
constexpr const char* PIPE_PREFIX = "\\\\.\\pipe\\";

// "Local\" names the session's own namespace, which unprefixed names also use.
std::string EventKey(const char* name) {
    std::string key = name;
    if (key.compare(0, 6, "Local\\") == 0) key.erase(0, 6);
    return key;
}

// Windows appends ".exe" to a program name without an extension.
std::string WithExe(const std::string& candidate) {
    const std::size_t slash = candidate.find_last_of('\\');
    const std::string leaf = slash == std::string::npos ? candidate : candidate.substr(slash + 1);
    return leaf.find('.') == std::string::npos ? candidate + ".exe" : candidate;
}

}  // namespace

CFakeProcesses::CFakeProcesses(CFakeMachine& machine) : m_machine(machine) {}

CFakeProcesses::~CFakeProcesses() = default;

bool CFakeProcesses::Fail(const char* call) { return m_machine.Fail(call); }

bool CFakeProcesses::SetError(DWORD error) {
    m_machine.lastError = error;
    return false;
}

DWORD CFakeProcesses::Now() const { return m_machine.kernel.tickCount; }

void CFakeProcesses::Advance(DWORD milliseconds) {
    m_machine.kernel.tickCount += milliseconds;
    waitedMilliseconds += milliseconds;
}

CFakeProcesses::HandleEntry* CFakeProcesses::Entry(HANDLE handle) {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == m_handles.end() ? nullptr : &it->second;
}

HANDLE CFakeProcesses::NewEntry(HandleEntry entry) {
    HANDLE handle = m_machine.NewHandle(this);
    m_handles.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(entry));
    return handle;
}

void CFakeProcesses::CloseOwned(HANDLE handle) {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_handles.end()) return;
    const HandleEntry entry = it->second;
    m_handles.erase(it);
    if (entry.kind == Kind::Event) {
        auto event = m_events.find(entry.name);
        if (event != m_events.end() && --event->second.handles == 0 && !event->second.heldElsewhere) {
            m_events.erase(event);
        }
    } else if (entry.kind == Kind::Pipe) {
        m_pipes.erase(entry.pipe);
    }
}

// ---- processes ----------------------------------------------------------------------

void CFakeProcesses::AddProgram(const std::string& path, const Program& program) {
    if (!m_machine.files.FileExists(path)) m_machine.files.PutFile(path, std::string("MZ"));
    m_programs[NormalizePath(path)] = program;
}

bool CFakeProcesses::Ended(std::size_t index) const { return !m_launches[index].running; }

bool CFakeProcesses::TimeToEnd(std::size_t index, DWORD* remaining) const {
    *remaining = 0;
    if (Ended(index)) return true;
    const Process& process = m_processes[index];
    if (process.program.hangs) return false;
    const DWORD elapsed = Now() - process.startTick;
    *remaining = process.program.runMilliseconds > elapsed ? process.program.runMilliseconds - elapsed : 0;
    return true;
}

void CFakeProcesses::Finish(std::size_t index, DWORD exitCode, bool terminated) {
    Launch& launch = m_launches[index];
    const std::string& signal = m_processes[index].program.signalsEvent;
    if (!terminated && !signal.empty()) {
        auto event = m_events.find(EventKey(signal.c_str()));
        if (event != m_events.end()) event->second.signalled = true;
    }
    launch.running = false;
    launch.terminated = terminated;
    launch.exitCode = exitCode;
}

void CFakeProcesses::Update() {
    for (std::size_t i = 0; i < m_launches.size(); ++i) {
        DWORD remaining = 0;
        if (!Ended(i) && TimeToEnd(i, &remaining) && remaining == 0) Finish(i, m_processes[i].program.exitCode, false);
    }
}

const std::vector<CFakeProcesses::Launch>& CFakeProcesses::Launches() {
    Update();
    return m_launches;
}

// The file a command line starts, found the way Windows looks for it: a quoted name as it
// stands; an unquoted one tried at every blank, shortest first, so that
// "C:\Program Files\x.exe" runs "C:\Program.exe" when there is one.
std::string CFakeProcesses::Resolve(const char* applicationName, const std::string& commandLine) const {
    auto existing = [&](std::string candidate) -> std::string {
        if (candidate.empty()) return "";
        if (candidate.find(':') == std::string::npos && candidate.compare(0, 2, "\\\\") != 0) {
            candidate = currentDirectory + "\\" + candidate;
        }
        return m_machine.files.FileExists(candidate) ? NormalizePath(candidate) : std::string();
    };
    if (applicationName != nullptr) return existing(applicationName);
    const std::size_t first = commandLine.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const std::string line = commandLine.substr(first);
    if (line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        return existing(WithExe(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
    }
    for (std::size_t from = 0;;) {
        const std::size_t blank = line.find_first_of(" \t", from);
        const std::string found = existing(WithExe(line.substr(0, blank)));
        if (!found.empty()) return found;
        if (blank == std::string::npos) return "";
        from = blank + 1;
    }
}

BOOL CFakeProcesses::CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles,
                                    DWORD creationFlags, const char* directory, ProcessInformation* information) {
    if (Fail("CreateProcessA")) return 0;
    if (applicationName == nullptr && commandLine == nullptr) return SetError(ERROR_INVALID_PARAMETER);
    const std::string line = commandLine != nullptr ? commandLine : "";
    const std::string image = Resolve(applicationName, line);
    if (image.empty()) return SetError(ERROR_FILE_NOT_FOUND);
    if (directory != nullptr && !m_machine.files.DirectoryExists(directory)) return SetError(ERROR_DIRECTORY);
    Update();

    Launch launch;
    launch.image = image;
    launch.commandLine = line;
    launch.currentDirectory = directory != nullptr ? NormalizePath(directory) : currentDirectory;
    launch.inheritHandles = inheritHandles;
    launch.creationFlags = creationFlags;
    Process process;
    auto script = m_programs.find(image);
    if (script != m_programs.end()) process.program = script->second;
    process.startTick = Now();
    const std::size_t index = m_launches.size();
    m_launches.push_back(launch);
    m_processes.push_back(process);

    ProcessInformation created;
    created.process = NewEntry({Kind::Process, index, "", 0, 0});
    created.thread = NewEntry({Kind::Thread, index, "", 0, 0});
    created.processId = 0x1000 + 8 * static_cast<DWORD>(index);
    created.threadId = created.processId + 4;
    if (information != nullptr) {
        *information = created;
    } else {
        // Nobody would close them: Windows writes through the pointer, so this cannot happen.
        CloseOwned(created.process);
        CloseOwned(created.thread);
        m_machine.ForgetHandle(created.process);
        m_machine.ForgetHandle(created.thread);
    }
    Update();  // a program that takes no time has ended already
    return 1;
}

BOOL CFakeProcesses::TerminateProcess(HANDLE process, UINT exitCode) {
    if (Fail("TerminateProcess")) return 0;
    HandleEntry* entry = Entry(process);
    if (entry == nullptr || entry->kind != Kind::Process) return SetError(ERROR_INVALID_HANDLE);
    Update();
    if (Ended(entry->process)) return SetError(ERROR_ACCESS_DENIED);
    Finish(entry->process, exitCode, true);
    return 1;
}

BOOL CFakeProcesses::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    if (Fail("GetExitCodeProcess")) return 0;
    HandleEntry* entry = Entry(process);
    if (entry == nullptr || entry->kind != Kind::Process) return SetError(ERROR_INVALID_HANDLE);
    Update();
    if (exitCode) *exitCode = Ended(entry->process) ? m_launches[entry->process].exitCode : STILL_ACTIVE;
    return 1;
}

DWORD CFakeProcesses::GetCurrentProcessId() { return currentProcessId; }

BOOL CFakeProcesses::ProcessIdToSessionId(DWORD processId, DWORD* session) {
    if (Fail("ProcessIdToSessionId")) return 0;
    const bool known = processId == currentProcessId ||
                       (processId >= 0x1000 && (processId - 0x1000) % 8 == 0 &&
                        (processId - 0x1000) / 8 < m_launches.size());
    if (!known) return SetError(ERROR_INVALID_PARAMETER);
    if (session) *session = sessionId;
    return 1;
}

DWORD CFakeProcesses::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    {
        const HandleEntry* waited = Entry(handle);
        std::string object = "unknown";
        if (waited != nullptr && waited->kind == Kind::Event) object = "event " + waited->name;
        if (waited != nullptr && (waited->kind == Kind::Process || waited->kind == Kind::Thread)) {
            object = (waited->kind == Kind::Process ? "process " : "thread ") + m_launches[waited->process].image;
        }
        waitRequests.push_back({object, milliseconds});
    }
    if (Fail("WaitForSingleObject")) return WAIT_FAILED;
    Update();
    HandleEntry* entry = Entry(handle);
    if (entry == nullptr || entry->kind == Kind::Pipe) {
        SetError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (entry->kind == Kind::Event && !(entry->access & SYNCHRONIZE)) {
        SetError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    const std::string name = entry->name;
    const bool isEvent = entry->kind == Kind::Event;
    const std::size_t index = entry->process;
    auto signalled = [&] { return isEvent ? m_events.at(name).signalled : Ended(index); };
    // When the object will be signalled without help from the waiting thread.
    auto timeToSignal = [&](DWORD* remaining) {
        if (!isEvent) return TimeToEnd(index, remaining);
        bool found = false;
        for (std::size_t i = 0; i < m_launches.size(); ++i) {
            DWORD left = 0;
            if (Ended(i) || EventKey(m_processes[i].program.signalsEvent.c_str()) != name || !TimeToEnd(i, &left)) {
                continue;
            }
            if (!found || left < *remaining) *remaining = left;
            found = true;
        }
        return found;
    };
    if (!signalled()) {
        DWORD remaining = 0;
        const bool comes = timeToSignal(&remaining);
        if (comes && (milliseconds == INFINITE || remaining <= milliseconds)) {
            Advance(remaining);
            Update();
        } else if (milliseconds == INFINITE) {
            ++foreverWaits;
            SetError(ERROR_POSSIBLE_DEADLOCK);
            return WAIT_FAILED;
        } else {
            Advance(milliseconds);
            Update();
            if (!signalled()) return WAIT_TIMEOUT;
        }
    }
    if (isEvent && !m_events.at(name).manualReset) m_events.at(name).signalled = false;
    return WAIT_OBJECT_0;
}

// ---- events -------------------------------------------------------------------------

HANDLE CFakeProcesses::CreateEventA(BOOL manualReset, BOOL initialState, const char* name, const char* security) {
    eventRequests.push_back({name != nullptr ? name : "", manualReset, initialState, security != nullptr ? security : ""});
    if (Fail("CreateEventA")) return nullptr;
    const std::string key =
        name != nullptr ? EventKey(name) : std::string("\x01unnamed ") + std::to_string(m_nextAnonymous++);
    auto it = m_events.find(key);
    if (it != m_events.end()) {
        ++it->second.handles;
        m_machine.lastError = ERROR_ALREADY_EXISTS;
    } else {
        m_events[key] = Event{manualReset != 0, initialState != 0, 1, false};
        m_machine.lastError = ERROR_SUCCESS;
    }
    return NewEntry({Kind::Event, 0, key, EVENT_ALL_ACCESS, 0});
}

HANDLE CFakeProcesses::OpenEventA(DWORD access, BOOL, const char* name) {
    if (Fail("OpenEventA")) return nullptr;
    if (name == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto it = m_events.find(EventKey(name));
    if (it == m_events.end()) {
        SetError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    ++it->second.handles;
    return NewEntry({Kind::Event, 0, it->first, access, 0});
}

BOOL CFakeProcesses::SetEvent(HANDLE event) {
    if (Fail("SetEvent")) return 0;
    HandleEntry* entry = Entry(event);
    if (entry == nullptr || entry->kind != Kind::Event) return SetError(ERROR_INVALID_HANDLE);
    if (!(entry->access & EVENT_MODIFY_STATE)) return SetError(ERROR_ACCESS_DENIED);
    m_events.at(entry->name).signalled = true;
    return 1;
}

BOOL CFakeProcesses::ResetEvent(HANDLE event) {
    if (Fail("ResetEvent")) return 0;
    HandleEntry* entry = Entry(event);
    if (entry == nullptr || entry->kind != Kind::Event) return SetError(ERROR_INVALID_HANDLE);
    if (!(entry->access & EVENT_MODIFY_STATE)) return SetError(ERROR_ACCESS_DENIED);
    m_events.at(entry->name).signalled = false;
    return 1;
}

void CFakeProcesses::AddEvent(const std::string& name, bool manualReset, bool signalled) {
    const std::string key = EventKey(name.c_str());
    auto it = m_events.find(key);
    if (it == m_events.end()) {
        m_events[key] = Event{manualReset, signalled, 0, true};
    } else {
        it->second.heldElsewhere = true;
        it->second.signalled = signalled;
    }
}

void CFakeProcesses::DropEvent(const std::string& name) {
    auto it = m_events.find(EventKey(name.c_str()));
    if (it == m_events.end()) return;
    it->second.heldElsewhere = false;
    if (it->second.handles == 0) m_events.erase(it);
}

bool CFakeProcesses::EventExists(const std::string& name) const { return m_events.count(EventKey(name.c_str())) != 0; }

bool CFakeProcesses::EventSignalled(const std::string& name) const {
    auto it = m_events.find(EventKey(name.c_str()));
    return it != m_events.end() && it->second.signalled;
}

// ---- named pipes --------------------------------------------------------------------

std::vector<DWORD> CFakeProcesses::PipeServer::ReceivedWords() const {
    std::vector<DWORD> words;
    for (std::size_t i = 0; i + 4 <= received.size(); i += 4) {
        words.push_back(static_cast<DWORD>(received[i]) | static_cast<DWORD>(received[i + 1]) << 8 |
                        static_cast<DWORD>(received[i + 2]) << 16 | static_cast<DWORD>(received[i + 3]) << 24);
    }
    return words;
}

CFakeProcesses::PipeServer& CFakeProcesses::AddPipeServer(const std::string& name) {
    std::unique_ptr<PipeServer>& server = m_servers[name];
    server = std::make_unique<PipeServer>();
    server->addedAt = Now();
    return *server;
}

void CFakeProcesses::RemovePipeServer(const std::string& name) {
    for (auto& [id, connection] : m_pipes) {
        if (SamePath(connection.server, name)) connection.serverClosed = true;
    }
    m_servers.erase(name);
}

bool CFakeProcesses::IsPipeName(const char* path) {
    if (path == nullptr) return false;
    const std::size_t n = std::strlen(PIPE_PREFIX);
    if (std::strlen(path) < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(path[i])) != PIPE_PREFIX[i]) return false;
    }
    return true;
}

bool CFakeProcesses::IsPipe(HANDLE handle) const {
    auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it != m_handles.end() && it->second.kind == Kind::Pipe;
}

bool CFakeProcesses::PipeBusy(const std::string& name) const {
    const PipeServer& server = *m_servers.at(name);
    for (const auto& [id, connection] : m_pipes) {
        if (!connection.serverClosed && SamePath(connection.server, name)) return true;
    }
    return server.busyMilliseconds == INFINITE || Now() - server.addedAt < server.busyMilliseconds;
}

BOOL CFakeProcesses::WaitNamedPipeA(const char* name, DWORD timeout) {
    if (Fail("WaitNamedPipeA")) return 0;
    auto it = name != nullptr ? m_servers.find(name) : m_servers.end();
    if (it == m_servers.end()) return SetError(ERROR_FILE_NOT_FOUND);
    if (!PipeBusy(it->first)) return 1;
    const PipeServer& server = *it->second;
    bool heldByClient = false;
    for (const auto& [id, connection] : m_pipes) {
        if (!connection.serverClosed && SamePath(connection.server, it->first)) heldByClient = true;
    }
    const bool frees = !heldByClient && server.busyMilliseconds != INFINITE;
    const DWORD remaining = frees ? server.addedAt + server.busyMilliseconds - Now() : 0;
    const DWORD limit = timeout == 0 ? PIPE_DEFAULT_WAIT : timeout;
    if (frees && (limit == INFINITE || remaining <= limit)) {
        Advance(remaining);
        return 1;
    }
    if (limit == INFINITE) {
        ++foreverWaits;
        return SetError(ERROR_POSSIBLE_DEADLOCK);
    }
    Advance(limit);
    return SetError(ERROR_SEM_TIMEOUT);
}

HANDLE CFakeProcesses::OpenPipe(const char* name, DWORD, DWORD flags) {
    pipeOpenFlags.push_back(flags);
    auto it = m_servers.find(name);
    if (it == m_servers.end()) {
        SetError(ERROR_FILE_NOT_FOUND);
        return InvalidHandle();
    }
    if (PipeBusy(it->first)) {
        SetError(ERROR_PIPE_BUSY);
        return InvalidHandle();
    }
    ++it->second->connections;
    const std::uint64_t id = m_nextPipe++;
    m_pipes[id].server = it->first;
    m_machine.lastError = ERROR_SUCCESS;
    return NewEntry({Kind::Pipe, 0, "", GENERIC_READ | GENERIC_WRITE, id});
}

bool CFakeProcesses::Visible(const Connection& connection) const {
    return !connection.out.empty() && !connection.neverVisible &&
           static_cast<std::int32_t>(Now() - connection.visibleAt) >= 0;
}

void CFakeProcesses::SendBytes(Connection& connection, const std::string& bytes) {
    const PipeServer& server = *m_servers.at(connection.server);
    for (char c : bytes) {
        if (connection.sent >= server.answerLimit) break;
        connection.out.push_back(static_cast<std::uint8_t>(c));
        ++connection.sent;
    }
    if (connection.sent >= server.answerLimit) connection.serverClosed = true;
    if (server.answerDelay == INFINITE) {
        connection.neverVisible = true;
    } else {
        connection.visibleAt = Now() + server.answerDelay;
    }
}

void CFakeProcesses::Send(Connection& connection, DWORD value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    SendBytes(connection, bytes);
}

// The product's side of the handshake and of the version query.
void CFakeProcesses::Serve(Connection& connection) {
    auto it = m_servers.find(connection.server);
    if (it == m_servers.end()) return;
    const PipeServer& server = *it->second;
    while (connection.pending.size() >= 4 && !connection.serverClosed) {
        const DWORD word = static_cast<DWORD>(connection.pending[0]) | static_cast<DWORD>(connection.pending[1]) << 8 |
                           static_cast<DWORD>(connection.pending[2]) << 16 |
                           static_cast<DWORD>(connection.pending[3]) << 24;
        connection.pending.erase(connection.pending.begin(), connection.pending.begin() + 4);
        const DWORD asked = server.askedAbilities;
        switch (connection.stage) {
        case 0:
            Send(connection, asked);
            connection.stage = (asked & 1) ? 1 : (asked & 2) ? 2 : 3;
            break;
        case 1:
            connection.stage = (asked & 2) ? 2 : 3;
            break;
        case 2:
            connection.stage = 3;
            break;
        default:
            if (word == REQUEST_VERSION) {
                Send(connection, server.version);
                Send(connection, server.overrideLength ? server.declaredLength
                                                       : static_cast<DWORD>(server.versionText.size()));
                SendBytes(connection, server.versionText);
            }
            break;
        }
    }
}

BOOL CFakeProcesses::WritePipe(HANDLE pipe, const void* buffer, DWORD size, DWORD* written) {
    if (written) *written = 0;
    HandleEntry* entry = Entry(pipe);
    if (entry == nullptr || entry->kind != Kind::Pipe) return SetError(ERROR_INVALID_HANDLE);
    Connection& connection = m_pipes.at(entry->pipe);
    auto server = m_servers.find(connection.server);
    if (connection.serverClosed || server == m_servers.end()) return SetError(ERROR_NO_DATA);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    server->second->received.insert(server->second->received.end(), bytes, bytes + size);
    connection.pending.insert(connection.pending.end(), bytes, bytes + size);
    Serve(connection);
    if (written) *written = size;
    return 1;
}

BOOL CFakeProcesses::ReadPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read) {
    if (read) *read = 0;
    HandleEntry* entry = Entry(pipe);
    if (entry == nullptr || entry->kind != Kind::Pipe) return SetError(ERROR_INVALID_HANDLE);
    Connection& connection = m_pipes.at(entry->pipe);
    if (!Visible(connection)) {
        if (connection.out.empty() && connection.serverClosed) return SetError(ERROR_BROKEN_PIPE);
        if (connection.out.empty() || connection.neverVisible) {
            // A real read would block until the process is killed.
            ++foreverWaits;
            return SetError(ERROR_POSSIBLE_DEADLOCK);
        }
        Advance(connection.visibleAt - Now());
    }
    const std::size_t n = std::min<std::size_t>(size, connection.out.size());
    if (n != 0) std::memcpy(buffer, connection.out.data(), n);
    connection.out.erase(connection.out.begin(), connection.out.begin() + static_cast<std::ptrdiff_t>(n));
    if (read) *read = static_cast<DWORD>(n);
    return 1;
}

BOOL CFakeProcesses::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD size, DWORD* read, DWORD* totalAvailable,
                                   DWORD* leftThisMessage) {
    if (read) *read = 0;
    if (totalAvailable) *totalAvailable = 0;
    if (leftThisMessage) *leftThisMessage = 0;
    if (Fail("PeekNamedPipe")) return 0;
    HandleEntry* entry = Entry(pipe);
    if (entry == nullptr || entry->kind != Kind::Pipe) return SetError(ERROR_INVALID_HANDLE);
    const Connection& connection = m_pipes.at(entry->pipe);
    if (!Visible(connection)) {
        if (connection.out.empty() && connection.serverClosed) return SetError(ERROR_BROKEN_PIPE);
        return 1;
    }
    const std::size_t n = buffer != nullptr ? std::min<std::size_t>(size, connection.out.size()) : 0;
    if (n != 0) std::memcpy(buffer, connection.out.data(), n);
    if (read) *read = static_cast<DWORD>(n);
    if (totalAvailable) *totalAvailable = static_cast<DWORD>(connection.out.size());
    return 1;
}

// ---- shell --------------------------------------------------------------------------

std::intptr_t CFakeProcesses::ShellExecuteA(HWND, const char* operation, const char* file, const char* parameters,
                                            const char* directory, int showCommand) {
    if (Fail("ShellExecuteA")) return 0;
    ShellCall call;
    call.operation = operation != nullptr ? operation : "";
    call.file = file != nullptr ? file : "";
    call.parameters = parameters != nullptr ? parameters : "";
    call.directory = directory != nullptr ? directory : "";
    call.showCommand = showCommand;
    shellCalls.push_back(call);
    // Addresses always open; a file must be there.
    const bool address = call.file.find("://") != std::string::npos;
    if (!address && !m_machine.files.FileExists(call.file)) {
        SetError(ERROR_FILE_NOT_FOUND);
        return SE_ERR_FNF;
    }
    return 42;
}

}  // namespace fake
