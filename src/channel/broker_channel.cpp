#include "channel/broker_channel.h"

#include <new>

#include "state/integrity.h"
#include "state/module_path.h"
#include "state/shared_state.h"
#include "state/string_ring.h"

namespace korvane {
namespace {

// Not in older headers: the pipe refuses clients of other machines
// (Vista on); earlier systems refuse the flag, and the pipe is made
// without it.
constexpr DWORD kRejectRemoteClients = 0x00000008;
// Room for a few messages queued before the broker reads them.
constexpr DWORD kPipeBufferSize = 16 * 1024;

// The names of this process's broker, formed once.
class BrokerNames {
public:
    const char* Pipe() noexcept {
        Form();
        return pipe_;
    }
    // Formed at each call: it lies in the session's namespace, which a low
    // process may find only later.
    AnsiString Mutex() {
        Form();
        return *sid_ ? SessionObjectName(Concatenate({"Korvane.Broker.", sid_}).c_str()) : AnsiString();
    }

private:
    void Form() noexcept {
        ScopedLock hold(lock_);
        if (formed_) return;
        formed_ = true;
        try {
            const AnsiString sid = UserSidText();
            DWORD session = 0;
            if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
            if (!korvane::BrokerPipeName(sid.c_str(), session, SessionObjectPrefix(), pipe_,
                                         sizeof pipe_))
                return;
            CopyBounded(sid_, sizeof sid_, sid.c_str());
        } catch (...) {
            pipe_[0] = sid_[0] = '\0';
        }
    }

    CriticalSection lock_;
    bool formed_ = false;
    char pipe_[256] = {};
    char sid_[SECURITY_MAX_SID_SIZE * 4] = {};
};

BrokerNames brokerNames;

}  // namespace

const char* BrokerPipeName() noexcept { return brokerNames.Pipe(); }

AnsiString BrokerMutexName() { return brokerNames.Mutex(); }

bool BrokerRunning() noexcept {
    AnsiString name;
    try {
        name = brokerNames.Mutex();
    } catch (...) {
        return false;
    }
    if (name.empty()) return false;
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
    // A low process may not open it, but is told that it is there.
    return mutex || GetLastError() == ERROR_ACCESS_DENIED;
}

namespace {

// Whether the elevation policy that setup writes lets Protected Mode start
// the broker in folder silently, at medium integrity.
bool PolicyStartsSilently(const char* folder) noexcept {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kElevationPolicyKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    char name[MAX_PATH] = {};
    char path[MAX_PATH * 2] = {};
    DWORD policy = 0;
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), "AppName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) !=
            ERROR_SUCCESS || type != REG_SZ)
        return false;
    size = sizeof path - 1;
    if (RegQueryValueExA(key.get(), "AppPath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS || type != REG_SZ)
        return false;
    size = sizeof policy;
    if (RegQueryValueExA(key.get(), "Policy", nullptr, &type, reinterpret_cast<BYTE*>(&policy), &size) !=
            ERROR_SUCCESS || type != REG_DWORD)
        return false;
    return ElevationPolicyStartsSilently(name, path, policy, folder);
}

// What this process knows of its attempts to start a broker. The lock is
// never held while the broker is started: every browser event and hot key
// asks LeavesToBroker, and none of them waits for CreateProcess.
class BrokerStarter {
public:
    BrokerStatus Ensure() noexcept {
        if (BrokerRunning()) return Settle(BrokerStatus::Running);
        {
            ScopedLock hold(lock_);
            if (unavailable_) return BrokerStatus::Unavailable;
            const DWORD now = GetTickCount();
            if (starting_) {
                if (now - startedAt_ < kStartGrace) return BrokerStatus::Starting;
                starting_ = false;
                if (++failures_ >= kStartAttempts) return GiveUp();
            }
            if (!ProgramPresent() || !StartsSilently()) return GiveUp();
            // Taken: another thread finds it starting while it starts.
            starting_ = true;
            startedAt_ = now;
        }
        if (Start()) return BrokerStatus::Starting;
        ScopedLock hold(lock_);
        starting_ = false;
        return GiveUp();
    }

    bool GaveUp() const noexcept { return unavailable_; }

    bool ProgramPresent() noexcept {
        if (programChecked_) return programPresent_;
        ScopedLock hold(lock_);
        if (!programChecked_) {
            try {
                folder_ = LibraryDirectory();
                program_ = Concatenate({folder_, kBrokerProgramName});
            } catch (...) {
                program_ = AnsiString();
            }
            const DWORD attributes =
                program_.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(program_.c_str());
            programPresent_ = attributes != INVALID_FILE_ATTRIBUTES &&
                              !(attributes & FILE_ATTRIBUTE_DIRECTORY);
            programChecked_ = true;
        }
        return programPresent_;
    }

    // The broker program beside the library; empty while unknown or missing.
    const char* Program() noexcept { return ProgramPresent() ? program_.c_str() : ""; }

private:
    BrokerStatus Settle(BrokerStatus status) noexcept {
        ScopedLock hold(lock_);
        starting_ = false;
        failures_ = 0;
        return status;
    }

    BrokerStatus GiveUp() noexcept {
        unavailable_ = true;
        return BrokerStatus::Unavailable;
    }

    // Outside Protected Mode a program starts as any other. From it, the
    // browser asks the user before it starts a program its elevation policy
    // does not name, and asks from every tab process: the broker is then
    // not started at all. Read once, with lock_ held.
    bool StartsSilently() noexcept {
        if (!ActsAtLowIntegrity()) return true;
        if (!policyChecked_) {
            policyChecked_ = true;
            policyAllows_ = PolicyStartsSilently(folder_.c_str());
        }
        return policyAllows_;
    }

    bool Start() noexcept {
        try {
            AnsiString commandLine = Concatenate({"\"", program_, "\""});
            STARTUPINFOA startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION started{};
            // Nothing inherited; the broker's own folder as its current one.
            if (!CreateProcessA(program_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                nullptr, folder_.empty() ? nullptr : folder_.c_str(), &startup, &started))
                return false;
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            return true;
        } catch (...) {
            return false;
        }
    }

    CriticalSection lock_;
    bool volatile programChecked_ = false;
    bool programPresent_ = false;
    AnsiString folder_;
    AnsiString program_;
    bool policyChecked_ = false;
    bool policyAllows_ = false;
    bool starting_ = false;
    bool volatile unavailable_ = false;
    DWORD startedAt_ = 0;
    int failures_ = 0;
};

BrokerStarter brokerStarter;

}  // namespace

BrokerStatus EnsureBroker() noexcept { return brokerStarter.Ensure(); }

bool BrokerProgramPresent() noexcept { return brokerStarter.ProgramPresent(); }

bool LeavesToBroker() noexcept {
    if (ProcessIsBroker()) return false;
    if (ActsAtLowIntegrity()) return true;
    return brokerStarter.ProgramPresent() && !brokerStarter.GaveUp();
}

namespace {

// The SID of this process's user, read once; null when it cannot be read.
class OwnUser {
public:
    PSID Sid() noexcept {
        ScopedLock hold(lock_);
        if (!read_) {
            read_ = true;
            UniqueHandle token;
            DWORD size = 0;
            if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
                GetTokenInformation(token.get(), TokenUser, buffer_, sizeof buffer_, &size))
                sid_ = reinterpret_cast<TOKEN_USER*>(buffer_)->User.Sid;
        }
        return sid_;
    }

private:
    CriticalSection lock_;
    bool read_ = false;
    alignas(8) BYTE buffer_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    PSID sid_ = nullptr;
};

OwnUser ownUser;

// Whether two paths name the same file: by the file's identity, whatever
// the form of either name.
bool Identify(const char* path, BY_HANDLE_FILE_INFORMATION* info) noexcept {
    UniqueFile file(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    return file && GetFileInformationByHandle(file.get(), info);
}

bool SameFile(const char* a, const char* b) noexcept {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    if (!Identify(a, &first) || !Identify(b, &second)) return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

bool ServedByOurBroker(HANDLE pipe) noexcept {
    using ServerProcessId = BOOL(WINAPI*)(HANDLE, PULONG);
    using ImageName = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto serverProcessId = reinterpret_cast<ServerProcessId>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetNamedPipeServerProcessId")));
    const auto imageName = reinterpret_cast<ImageName>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "QueryFullProcessImageNameA")));
    // Before Vista a pipe's server cannot be asked for; nor are there
    // integrity levels, so only another user could have taken the name.
    if (!serverProcessId || !imageName) return true;
    ULONG server = 0;
    if (!serverProcessId(pipe, &server) || server == 0) return false;
    // What a process at any level may open of one at a higher level: the
    // rights that no-read-up and no-write-up leave, enough for its token's
    // user and level and its program's name.
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
    UniqueHandle token;
    if (!process || !OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return false;
    alignas(8) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    alignas(8) BYTE label[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const PSID own = ownUser.Sid();
    if (!own || !GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size) ||
        !EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, own))
        return false;
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, label, sizeof label, &size)) return false;
    PSID level = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
    if (!IsValidSid(level) || *GetSidSubAuthorityCount(level) == 0 ||
        *GetSidSubAuthority(level, *GetSidSubAuthorityCount(level) - 1) < kMediumIntegrityRid)
        return false;
    char image[MAX_PATH * 2];
    DWORD length = sizeof image;
    const char* program = brokerStarter.Program();
    return imageName(process.get(), 0, image, &length) && *program && SameFile(image, program);
}

bool SendToBroker(BrokerMessageKind kind, const char* address) noexcept {
    const char* name = BrokerPipeName();
    if (!*name) return false;
    unsigned char message[kLongestBrokerMessage];
    size_t size = 0;
    try {
        const AnsiString kept = address ? BlockedPopupLog::Kept(address) : AnsiString();
        size = FormatBrokerMessage(kind, kept.c_str(), kept.length(), message, sizeof message);
    } catch (...) {
        return false;
    }
    if (size == 0) return false;
    // Identification only: whoever serves the pipe learns who wrote, and
    // cannot act as this process.
    UniqueFile pipe(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                nullptr));
    if (!pipe || !ServedByOurBroker(pipe.get())) return false;
    OVERLAPPED overlapped{};
    DWORD written = 0;
    if (!WriteFile(pipe.get(), message, static_cast<DWORD>(size), nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        // The pipe's buffer is full: the broker does not read. The write is
        // taken back rather than waited for; cancelling lands at once.
        CancelIo(pipe.get());
    }
    return GetOverlappedResult(pipe.get(), &overlapped, &written, TRUE) && written == size;
}

struct BrokerServer::Instance {
    enum class State { Idle, Connecting, Reading };
    UniqueFile pipe;
    UniqueHandle event;
    OVERLAPPED overlapped{};
    State state = State::Idle;
    // An operation was started and has not been taken back: a call that
    // failed at once leaves nothing to cancel or wait for.
    bool started = false;
    DWORD readSince = 0;
    unsigned char buffer[kLongestBrokerMessage];
};

bool BrokerServer::Start(Handler handler, void* context) {
    if (thread_) return true;
    const char* name = BrokerPipeName();
    if (!*name || !handler) return false;
    handler_ = handler;
    context_ = context;
    instances_ = new (std::nothrow) Instance[kBrokerInstances];
    stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!instances_ || !stop_) {
        Stop();
        return false;
    }
    for (int i = 0; i < kBrokerInstances; ++i) {
        Instance& instance = instances_[i];
        // The first instance must be the pipe's first: a pipe of that name
        // made before by anyone else (who would then read what the browsers
        // send) makes the broker fail rather than serve beside it.
        const DWORD open = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED |
                           (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        const DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
        // The user and the system only, writable from low integrity.
        SECURITY_ATTRIBUTES* security = SessionObjectSecurity(SessionAccess::LowWrites);
        instance.pipe.reset(CreateNamedPipeA(name, open, mode | kRejectRemoteClients, kBrokerInstances,
                                             0, kPipeBufferSize, 0, security));
        if (!instance.pipe && GetLastError() == ERROR_INVALID_PARAMETER)
            instance.pipe.reset(
                CreateNamedPipeA(name, open, mode, kBrokerInstances, 0, kPipeBufferSize, 0, security));
        instance.event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!instance.pipe || !instance.event) {
            Stop();
            return false;
        }
        instance.overlapped.hEvent = instance.event.get();
    }
    thread_.reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    if (!thread_) {
        Stop();
        return false;
    }
    return true;
}

void BrokerServer::Stop() noexcept {
    if (thread_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    delete[] instances_;
    instances_ = nullptr;
    stop_.reset();
}

DWORD WINAPI BrokerServer::ThreadMain(void* self) noexcept {
    static_cast<BrokerServer*>(self)->Serve();
    return 0;
}

bool BrokerServer::SameSession(HANDLE pipe) const noexcept {
    using ClientSessionId = BOOL(WINAPI*)(HANDLE, PULONG);
    // Vista on; before, a pipe's clients cannot be told apart by session.
    const auto clientSessionId = reinterpret_cast<ClientSessionId>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetNamedPipeClientSessionId")));
    if (!clientSessionId) return true;
    ULONG client = 0;
    DWORD own = 0;
    return clientSessionId(pipe, &client) && ProcessIdToSessionId(GetCurrentProcessId(), &own) &&
           client == own;
}

bool BrokerServer::Listen(Instance& instance) noexcept {
    ResetEvent(instance.event.get());
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event.get();
    instance.state = Instance::State::Connecting;
    instance.started = true;
    if (ConnectNamedPipe(instance.pipe.get(), &instance.overlapped)) return true;
    switch (GetLastError()) {
        case ERROR_IO_PENDING:
            return true;
        case ERROR_PIPE_CONNECTED:
            // A client came between the pipe's making and this call. No
            // operation is pending: the record says the connection is done.
            instance.overlapped.Internal = 0;
            instance.overlapped.InternalHigh = 0;
            instance.started = false;
            SetEvent(instance.event.get());
            return true;
        default:
            instance.state = Instance::State::Idle;
            instance.started = false;
            return false;
    }
}

void BrokerServer::Read(Instance& instance) noexcept {
    ResetEvent(instance.event.get());
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event.get();
    instance.state = Instance::State::Reading;
    instance.started = true;
    // Whether it completes at once or later, the event says so, and the
    // serving loop takes the result.
    if (ReadFile(instance.pipe.get(), instance.buffer, sizeof instance.buffer, nullptr,
                 &instance.overlapped))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) return;
    // Failed at once (the writer has gone): nothing runs.
    instance.started = false;
    Drop(instance);
}

void BrokerServer::Finish(Instance& instance, DWORD bytes) noexcept {
    BrokerMessage message;
    if (!ParseBrokerMessage(instance.buffer, bytes, &message)) {
        InterlockedIncrement(&ignored_);
        return;
    }
    InterlockedIncrement(&accepted_);
    try {
        handler_(message, context_);
    } catch (...) {
        // One message's failure leaves the channel serving.
    }
}

// Takes back an operation still running, and waits for it to land (at once).
void BrokerServer::Cancel(Instance& instance) noexcept {
    if (instance.started && !HasOverlappedIoCompleted(&instance.overlapped)) {
        CancelIo(instance.pipe.get());
        DWORD bytes = 0;
        GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &bytes, TRUE);
    }
    instance.started = false;
}

void BrokerServer::Drop(Instance& instance) noexcept {
    Cancel(instance);
    DisconnectNamedPipe(instance.pipe.get());
    Listen(instance);
}

void BrokerServer::Serve() noexcept {
    for (int i = 0; i < kBrokerInstances; ++i) Listen(instances_[i]);
    HANDLE handles[kBrokerInstances + 1];
    handles[0] = stop_.get();
    for (int i = 0; i < kBrokerInstances; ++i) handles[i + 1] = instances_[i].event.get();
    for (;;) {
        // Wake for the stop, any instance, the first read that runs out of
        // time, or, while an instance could not listen, to try it again.
        DWORD timeout = INFINITE;
        const DWORD now = GetTickCount();
        for (int i = 0; i < kBrokerInstances; ++i) {
            const Instance& instance = instances_[i];
            DWORD wait = INFINITE;
            if (instance.state == Instance::State::Reading) {
                const DWORD spent = now - instance.readSince;
                wait = spent >= kBrokerReadTimeout ? 0 : kBrokerReadTimeout - spent;
            } else if (instance.state == Instance::State::Idle) {
                wait = kBrokerReadTimeout;
            }
            if (wait < timeout) timeout = wait;
        }
        const DWORD woken = WaitForMultipleObjects(kBrokerInstances + 1, handles, FALSE, timeout);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
        // Every instance that is ready, not only the first: a client that
        // writes without pause must not starve the others.
        for (int i = 0; i < kBrokerInstances; ++i) {
            Instance& instance = instances_[i];
            if (instance.state == Instance::State::Idle) {
                Listen(instance);
                continue;
            }
            if (WaitForSingleObject(instance.event.get(), 0) != WAIT_OBJECT_0) {
                if (instance.state == Instance::State::Reading &&
                    GetTickCount() - instance.readSince >= kBrokerReadTimeout)
                    Drop(instance);  // connected and silent: let another in
                continue;
            }
            DWORD bytes = 0;
            const BOOL done = GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &bytes, FALSE);
            const DWORD error = done ? ERROR_SUCCESS : GetLastError();
            if (error == ERROR_IO_INCOMPLETE) continue;
            instance.started = false;
            if (instance.state == Instance::State::Connecting) {
                if ((!done && error != ERROR_PIPE_CONNECTED) || !SameSession(instance.pipe.get())) {
                    if (done) InterlockedIncrement(&ignored_);
                    Drop(instance);
                    continue;
                }
                instance.readSince = GetTickCount();
                Read(instance);
                continue;
            }
            if (done) {
                Finish(instance, bytes);
                Read(instance);
            } else if (error == ERROR_MORE_DATA) {
                // Longer than any message: not read, and the writer is let go.
                InterlockedIncrement(&ignored_);
                Drop(instance);
            } else {
                // The writer closed its end: the usual end of a message.
                Drop(instance);
            }
        }
    }
    for (int i = 0; i < kBrokerInstances; ++i) Cancel(instances_[i]);
}

}  // namespace korvane
