#include "converter/run/Workers.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "converter/base/Com.h"
#include "converter/base/LongPaths.h"
#include "converter/base/Texts.h"
#include "converter/run/WorkerProtocol.h"
#include "settings/ModulePath.h"

namespace Workers {

namespace {

namespace Protocol = WorkerProtocol;

constexpr wchar_t WorkerSwitch[] = L"--quennel-worker";

// A picture's time limit: a base for starting and small files, and more for
// every mebibyte of the file and every megapixel of the decoded picture.
// Ten times what a slow machine needs, so only a hang or a loop meets it.
constexpr ULONGLONG BaseLimitMs = 20000;
constexpr ULONGLONG LimitMsPerMiB = 2000;
constexpr ULONGLONG LimitMsPerMegapixel = 2000;

// Memory a picture takes while it is converted, a decoded pixel, when its
// worker names less: the full picture (4 bytes), a resized or turned copy
// (4), the encoded bytes and the codec's own buffers (4).
constexpr uint64_t BytesPerPixel = 12;

// ---------------------------------------------------------------------------
// Messages over a handle

// The worker's side: plain blocking reads and writes; a failure means the
// supervisor is gone, and the worker with it.
bool WriteAll(HANDLE pipe, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool ReadExactly(HANDLE pipe, uint8_t* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(pipe, into + done, static_cast<DWORD>(size - done), &got, nullptr) || got == 0) return false;
        done += got;
    }
    return true;
}

bool ReadMessage(HANDLE pipe, std::vector<uint8_t>& body) {
    uint8_t head[4];
    uint32_t length = 0;
    if (!ReadExactly(pipe, head, sizeof head) || !Protocol::BodyLength(head, length)) return false;
    body.resize(length);
    return length == 0 || ReadExactly(pipe, body.data(), length);
}

// ---------------------------------------------------------------------------
// The worker mode

Job JobFrom(const Protocol::JobMessage& message, bool& known) {
    Job job;
    known = true;
    if (!message.formatToken.empty()) {
        job.format = Formats::ByToken(message.formatToken);
        known = job.format != nullptr;
    }
    job.box = {message.boxWidth, message.boxHeight};
    job.enlarge = message.enlarge;
    job.tag = message.tag;
    job.jpegQuality = static_cast<int>(message.jpegQuality);
    job.folder = message.folder;
    return job;
}

// Whether a picture needing `bytes` can be converted in this worker at all:
// within the memory cap of its job (the whole budget: LimitWorkerMemory)
// and its address space. One that cannot is refused before anything is
// taken, rather than admitted and then failing on the way.
bool WithinReach(uint64_t bytes) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof limits, nullptr) &&
        (limits.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) &&
        bytes > limits.ProcessMemoryLimit)
        return false;
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return !GlobalMemoryStatusEx(&status) || bytes <= status.ullAvailVirtual;
}

// What a worker asks of the budget for one picture, in whole mebibytes.
Protocol::OpenedMessage Opened(PixelSize size, uint64_t bytes) {
    const uint64_t mebibytes = bytes / (1 << 20) + (bytes % (1 << 20) != 0);
    return {size.width, size.height, static_cast<uint32_t>(std::min<uint64_t>(mebibytes, UINT32_MAX))};
}

int Serve(HANDLE pipe) {
    std::vector<uint8_t> body;
    Protocol::JobMessage jobMessage;
    bool known = false;
    if (!ReadMessage(pipe, body) || !Protocol::Decode(body, jobMessage)) return 2;
    const Job job = JobFrom(jobMessage, known);
    if (!known) return 2;

    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode = 0;
    {
        ComPtr<IWICImagingFactory> wic;
        const HRESULT created = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IWICImagingFactory, reinterpret_cast<void**>(wic.Put()));
        Protocol::PictureMessage picture;
        while (ReadMessage(pipe, body)) {
            if (!Protocol::Decode(body, picture)) {
                exitCode = 2;
                break;
            }
            const Sources::Source source{picture.path, picture.folder, picture.name};
            bool supervisorGone = false;
            const Pipeline::Admit admit = [&](PixelSize size, uint64_t bytes) {
                if (!WithinReach(bytes)) return false;
                Protocol::Kind kind;
                if (!WriteAll(pipe, Protocol::Encode(Opened(size, bytes))) ||
                    !ReadMessage(pipe, body) || !Protocol::KindOf(body, kind) || kind != Protocol::Kind::Go) {
                    supervisorGone = true;
                    return false;
                }
                return true;
            };
            Pipeline::Outcome outcome;
            if (SUCCEEDED(created)) {
                outcome = Pipeline::ConvertOne(wic.Get(), job, source, admit);
            } else {
                outcome.started = true;
                outcome.reason = L"Die Bildverarbeitung von Windows ist nicht verf\u00fcgbar.";
            }
            if (supervisorGone) break;
            Protocol::DoneMessage done;
            done.converted = outcome.converted;
            done.started = outcome.started;
            // The one reason worth a second try with more memory.
            done.outOfMemory = !outcome.converted && outcome.reason == Texts::ReasonForError(ERROR_OUTOFMEMORY);
            done.result = outcome.result;
            done.reason = outcome.reason;
            done.substituteFrom = outcome.substituteFrom;
            done.substituteTo = outcome.substituteTo;
            done.remark = outcome.remark;
            if (!WriteAll(pipe, Protocol::Encode(done))) break;
        }
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return exitCode;
}

// ---------------------------------------------------------------------------
// The supervisor's side

// One memory budget for all workers, in bytes. A picture waits until its
// share is free; a picture larger than the whole budget goes when it is
// alone, and no later, so nothing waits forever. Taken only through a
// BudgetShare, which gives it back however the picture ends.
class Budget {
public:
    explicit Budget(uint64_t total) : free_(total) {}

    // False when `cancel` is set while the share is waited for. The cancel
    // comes from the window's thread without a notification: it is looked
    // at a few times a second.
    bool Take(uint64_t want, const std::atomic<bool>& cancel, uint64_t& taken) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (want > free_ && holders_ != 0) {
            if (cancel.load()) return false;
            ready_.wait_for(lock, std::chrono::milliseconds(200));
        }
        taken = std::min(want, free_);
        free_ -= taken;
        ++holders_;
        return true;
    }
    void Give(uint64_t taken) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_ += taken;
            --holders_;
        }
        ready_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    uint64_t free_;
    unsigned holders_ = 0;
};

// One picture's share of the budget, held until this goes.
class BudgetShare {
public:
    explicit BudgetShare(Budget& budget) : budget_(budget) {}
    ~BudgetShare() {
        if (held_) budget_.Give(taken_);
    }
    BudgetShare(const BudgetShare&) = delete;
    BudgetShare& operator=(const BudgetShare&) = delete;

    bool Take(uint64_t want, const std::atomic<bool>& cancel) {
        held_ = budget_.Take(want, cancel, taken_);
        return held_;
    }
    bool Held() const { return held_; }

private:
    Budget& budget_;
    uint64_t taken_ = 0;
    bool held_ = false;
};

// The memory a decoded picture of `width` x `height` takes while it is
// converted; the largest number when that does not fit (the picture then
// waits until it is alone).
uint64_t MemoryFor(uint32_t width, uint32_t height) {
    const uint64_t pixels = uint64_t{width} * height;
    return pixels > UINT64_MAX / BytesPerPixel ? UINT64_MAX : pixels * BytesPerPixel;
}

// What a worker asks for one picture: what it names, or the rule of thumb
// by its size when that is more.
uint64_t BytesAsked(const WorkerProtocol::OpenedMessage& opened) {
    return std::max(uint64_t{opened.mebibytes} << 20, MemoryFor(opened.width, opened.height));
}

uint64_t MemoryBudget() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    uint64_t budget = uint64_t{1} << 30;
    if (GlobalMemoryStatusEx(&status)) budget = std::min(status.ullAvailPhys, status.ullAvailVirtual) / 4 * 3;
    return std::max<uint64_t>(budget, uint64_t{256} << 20);
}

std::wstring OwnPath() {
    std::wstring path;
    ModulePath(nullptr, path);
    return path;
}

// A job object that ends every worker when its last handle closes: when the
// supervisor ends, however it ends. A worker crash ends only that worker,
// without the platform's error reporting holding it open.
HANDLE CreateWorkerJob() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    bool limited = SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != FALSE;
    if (!limited) {  // the one that matters alone
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        limited = SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != FALSE;
    }
    if (!limited) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Memory a worker process holds besides its picture: the program, the C++
// runtime, the platform's imaging component and its codecs.
constexpr uint64_t WorkerBaseBytes = uint64_t{256} << 20;

// Caps the memory each worker may commit at the whole budget (a picture
// alone may have all of it) and all of them together at the budget: a
// picture whose memory was misjudged, or a codec that eats memory, runs out
// within its own worker, which answers "out of memory" and gets its picture
// tried again alone. Without the cap (a platform that refuses it) the
// budget still holds for what the readers say.
void LimitWorkerMemory(HANDLE job, uint64_t budget, unsigned workers) {
    if (!job) return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    if (!QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits, nullptr)) return;
    const uint64_t perProcess = std::min<uint64_t>(budget + WorkerBaseBytes, SIZE_MAX);
    const uint64_t all = std::min<uint64_t>(budget + WorkerBaseBytes * std::max(workers, 1u), SIZE_MAX);
    limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_JOB_MEMORY;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(perProcess);
    limits.JobMemoryLimit = static_cast<SIZE_T>(all);
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// What all slots share: the job, the sources, the job object, the budget,
// and the lock around starting a process (so that no worker inherits the
// pipe of another, whatever the platform does with handle lists).
struct Shared {
    Shared(const std::vector<Sources::Source>& sources, std::vector<Pipeline::Outcome>& outcomes,
           Pipeline::Progress& progress, std::vector<uint8_t> jobBytes)
        : sources(sources), outcomes(outcomes), progress(progress), jobBytes(std::move(jobBytes)),
          program(OwnPath()), jobObject(CreateWorkerJob()), budget(MemoryBudget()) {}
    ~Shared() {
        if (jobObject) CloseHandle(jobObject);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    const std::vector<Sources::Source>& sources;
    std::vector<Pipeline::Outcome>& outcomes;
    Pipeline::Progress& progress;
    std::vector<uint8_t> jobBytes;
    std::wstring program;
    HANDLE jobObject;
    Budget budget;
    std::mutex starting;
    std::mutex retryMutex;
    std::vector<size_t> retry;
    std::atomic<size_t> next{0};
};

enum class Io { Ok, Died, TimedOut, Cancelled };

// The worker's pipe is how a picture's path goes in and a result's path
// comes out: no other process may open it first or in between. So its name
// holds 122 random bits (a new GUID: nothing to guess from the process ID),
// it admits one instance, which the supervisor opens itself at once, and
// its access list lets in the user this process runs as and no one else.
std::wstring UnguessablePipeName() {
    GUID guid;
    wchar_t text[40];
    if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0) return std::wstring();
    return L"\\\\.\\pipe\\quennel-transform-" + std::wstring(text);
}

class OwnUserOnly {
public:
    OwnUserOnly() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool known = size != 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!known) return;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        ok_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
              AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) &&
              InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    OwnUserOnly(const OwnUserOnly&) = delete;
    OwnUserOnly& operator=(const OwnUserOnly&) = delete;

    // Null when the list could not be made: then no pipe is made either.
    SECURITY_ATTRIBUTES* Get() { return ok_ ? &attributes_ : nullptr; }

private:
    std::vector<uint8_t> user_;
    std::vector<uint8_t> acl_;  // ACL's alignment is that of a DWORD: vector memory has it
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ok_ = false;
};

// One worker process and the supervisor's end of its pipe.
class Slot {
public:
    explicit Slot(Shared& shared) : shared_(shared) {}
    ~Slot() { Stop(false); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    // Converts one source in the worker, starting one when none runs; never throws.
    Pipeline::Outcome Convert(const Sources::Source& source, bool& outOfMemory) {
        outOfMemory = false;
        if (!process_ && !Start()) {
            Stop(true);
            return Pipeline::Failed(L"Die Bildverarbeitung kann nicht gestartet werden.");
        }
        ULONGLONG limit = BaseLimitMs + LimitMsPerMiB * (FileBytes(source.path) >> 20);
        ULONGLONG deadline = GetTickCount64() + limit;
        Protocol::PictureMessage picture{source.path, source.folder, source.name};
        crashed_ = false;
        BudgetShare share(shared_.budget);
        Io io = Send(Protocol::Encode(picture), deadline);
        std::vector<uint8_t> body;
        Pipeline::Outcome outcome;
        bool answered = false;
        while (io == Io::Ok && !answered) {
            io = Receive(body, deadline);
            if (io != Io::Ok) break;
            Protocol::OpenedMessage opened;
            Protocol::DoneMessage done;
            if (!share.Held() && Protocol::Decode(body, opened)) {
                if (!share.Take(BytesAsked(opened), shared_.progress.cancel)) {
                    io = Io::Cancelled;
                    break;
                }
                const uint64_t pixels = uint64_t{opened.width} * opened.height;
                deadline = GetTickCount64() + limit + LimitMsPerMegapixel * (pixels / 1000000);
                io = Send(Protocol::EncodeGo(), deadline);
            } else if (Protocol::Decode(body, done)) {
                outcome.converted = done.converted;
                outcome.started = done.started;
                outcome.result = done.result;
                outcome.reason = done.reason;
                outcome.substituteFrom = done.substituteFrom;
                outcome.substituteTo = done.substituteTo;
                outcome.remark = done.remark;
                outOfMemory = done.outOfMemory;
                answered = true;
            } else {
                io = Io::Died;  // garbage: as good as dead
            }
        }
        if (answered) return outcome;
        const DWORD code = Stop(true);
        if (io == Io::Cancelled) return Pipeline::Outcome();  // not reached
        if (io == Io::TimedOut)
            return Pipeline::Failed(L"Die Bildverarbeitung brauchte f\u00fcr diese Datei zu lange und wurde beendet.");
        crashed_ = true;
        wchar_t hex[16];
        wsprintfW(hex, L"%08lX", static_cast<unsigned long>(code));
        return Pipeline::Failed(L"Die Bildverarbeitung ist an dieser Datei abgest\u00fcrzt (Fehler 0x" + std::wstring(hex) +
                      L").");
    }

    // Ends the worker: by closing its pipe (it then returns), or by force.
    // Waits for its end, so that its temporary file is gone when this returns.
    // Gives the worker's exit code.
    DWORD Stop(bool force) {
        DWORD code = 0;
        if (pipe_) CloseHandle(pipe_);
        pipe_ = nullptr;
        if (process_) {
            if (force) TerminateProcess(process_, ERROR_PROCESS_ABORTED);
            if (WaitForSingleObject(process_, 10000) == WAIT_TIMEOUT) TerminateProcess(process_, ERROR_PROCESS_ABORTED);
            WaitForSingleObject(process_, 10000);
            GetExitCodeProcess(process_, &code);
            CloseHandle(process_);
        }
        process_ = nullptr;
        if (event_) CloseHandle(event_);
        event_ = nullptr;
        return code;
    }

    // Whether the last Convert ended in the worker's crash.
    bool Crashed() const { return crashed_; }

private:
    Shared& shared_;
    bool crashed_ = false;
    HANDLE process_ = nullptr;
    HANDLE pipe_ = nullptr;
    HANDLE event_ = nullptr;

    static uint64_t FileBytes(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(LongPaths::ForApi(path).c_str(), GetFileExInfoStandard, &data)) return 0;
        return uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
    }

    bool Start() {
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!event_) return false;
        const std::wstring name = UnguessablePipeName();
        OwnUserOnly security;
        if (name.empty() || !security.Get()) return false;
        pipe_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 1 << 16, 1 << 16, 0, security.Get());
        if (pipe_ == INVALID_HANDLE_VALUE) {
            pipe_ = nullptr;
            return false;
        }
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        const HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                          0, nullptr);
        if (client == INVALID_HANDLE_VALUE) return false;
        PROCESS_INFORMATION info = {};
        bool started = false;
        {
            std::lock_guard<std::mutex> lock(shared_.starting);
            // The pipe is all a worker inherits: not the handles this
            // process got from its own caller (its output files, a console).
            SIZE_T listBytes = 0;
            InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
            std::vector<uint8_t> listMemory(listBytes);
            auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
            HANDLE inherited[1] = {client};
            const bool listed = InitializeProcThreadAttributeList(attributes, 1, 0, &listBytes) &&
                                UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                          sizeof inherited, nullptr, nullptr);
            STARTUPINFOEXW startup = {};
            startup.StartupInfo.cb = sizeof startup;
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = client;
            startup.StartupInfo.hStdOutput = client;
            startup.StartupInfo.hStdError = nullptr;
            startup.lpAttributeList = listed ? attributes : nullptr;
            std::wstring commandLine = L"\"" + shared_.program + L"\" " + WorkerSwitch;
            started = CreateProcessW(shared_.program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                     CREATE_SUSPENDED | DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                     nullptr, &startup.StartupInfo, &info) != FALSE;
            if (listed) DeleteProcThreadAttributeList(attributes);
        }
        CloseHandle(client);
        if (!started) return false;
        process_ = info.hProcess;
        // Outside the job it would outlive a killed supervisor: not started at all then.
        if (shared_.jobObject && !AssignProcessToJobObject(shared_.jobObject, process_)) {
            TerminateProcess(process_, ERROR_PROCESS_ABORTED);
            CloseHandle(info.hThread);
            return false;
        }
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        return Send(shared_.jobBytes, GetTickCount64() + BaseLimitMs) == Io::Ok;
    }

    // One overlapped transfer, until done, the worker's end, or the deadline.
    Io Transfer(bool write, uint8_t* data, DWORD size, ULONGLONG deadline) {
        DWORD done = 0;
        while (done < size) {
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event_;
            ResetEvent(event_);
            const BOOL immediate = write ? WriteFile(pipe_, data + done, size - done, nullptr, &overlapped)
                                         : ReadFile(pipe_, data + done, size - done, nullptr, &overlapped);
            if (!immediate && GetLastError() != ERROR_IO_PENDING) return Io::Died;
            const ULONGLONG now = GetTickCount64();
            const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
            const HANDLE waits[2] = {event_, process_};
            const DWORD woke = immediate ? WAIT_OBJECT_0 : WaitForMultipleObjects(2, waits, FALSE, wait);
            if (woke != WAIT_OBJECT_0) CancelIoEx(pipe_, &overlapped);
            DWORD moved = 0;
            const BOOL ok = GetOverlappedResult(pipe_, &overlapped, &moved, TRUE);
            // What moved before the cancel took hold counts, whatever woke
            // this thread: a transfer that completed at the deadline or as
            // the worker ended is no timeout and no death.
            if (ok && moved > 0) {
                done += moved;
                continue;
            }
            if (woke == WAIT_TIMEOUT) return Io::TimedOut;
            return Io::Died;
        }
        return Io::Ok;
    }

    Io Send(std::vector<uint8_t> bytes, ULONGLONG deadline) {
        return Transfer(true, bytes.data(), static_cast<DWORD>(bytes.size()), deadline);
    }

    Io Receive(std::vector<uint8_t>& body, ULONGLONG deadline) {
        uint8_t head[4];
        uint32_t length = 0;
        Io io = Transfer(false, head, sizeof head, deadline);
        if (io != Io::Ok) return io;
        if (!Protocol::BodyLength(head, length) || length == 0) return Io::Died;
        body.resize(length);
        return Transfer(false, body.data(), length, deadline);
    }
};

// A crash may come of damage that an earlier picture left in the worker
// (seen in the platform's own decoders): the picture gets a second try in a
// fresh worker before it is skipped. A hang is not tried again: it has
// already cost its whole time limit.
Pipeline::Outcome ConvertRetryingCrash(Slot& slot, const Sources::Source& source, bool& outOfMemory) {
    Pipeline::Outcome outcome = slot.Convert(source, outOfMemory);
    if (slot.Crashed()) outcome = slot.Convert(source, outOfMemory);
    return outcome;
}

// The reason of a picture whose slot ended before it (the supervisor's own
// memory ran out): skipped and said so, never left out silently.
void MarkLost(Pipeline::Outcome& outcome) {
    try {
        outcome = Pipeline::Failed(L"Die Datei wurde nicht bearbeitet: " + Texts::ReasonForError(ERROR_OUTOFMEMORY));
    } catch (...) {
        // Not even that: it stays unreached, which the summary counts.
    }
}

void SlotLoop(Shared& shared) {
    size_t current = SIZE_MAX;
    try {
        Slot slot(shared);
        while (!shared.progress.cancel.load()) {
            const size_t i = shared.next.fetch_add(1);
            if (i >= shared.sources.size()) break;
            current = i;
            shared.progress.SetCurrent(shared.sources[i].name);
            bool outOfMemory = false;
            shared.outcomes[i] = ConvertRetryingCrash(slot, shared.sources[i], outOfMemory);
            current = SIZE_MAX;
            if (outOfMemory) {
                std::lock_guard<std::mutex> lock(shared.retryMutex);
                shared.retry.push_back(i);
            } else {
                shared.progress.done.fetch_add(1);
            }
        }
    } catch (...) {
        // Out of memory in the supervisor itself: this slot stops, the
        // others go on.
        if (current != SIZE_MAX) MarkLost(shared.outcomes[current]);
    }
}

// Unless the user cancelled, every picture ends converted or skipped with
// its reason, even when every slot ended early.
void MarkUnreached(std::vector<Pipeline::Outcome>& outcomes, const Pipeline::Progress& progress) {
    if (progress.cancel.load()) return;
    for (Pipeline::Outcome& outcome : outcomes)
        if (!outcome.started) MarkLost(outcome);
}

}  // namespace

bool IsWorkerCommandLine(int count, wchar_t** args) {
    return count == 2 && args && args[1] && lstrcmpW(args[1], WorkerSwitch) == 0;
}

int WorkerMain() {
    // A crash ends this process at once, without a dialog: the supervisor
    // reports it in the summary.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    const HANDLE pipe = GetStdHandle(STD_INPUT_HANDLE);
    if (!pipe || pipe == INVALID_HANDLE_VALUE || GetFileType(pipe) != FILE_TYPE_PIPE) return 2;
    try {
        return Serve(pipe);
    } catch (...) {
        return 3;  // the supervisor sees the pipe close and reports the picture
    }
}

std::vector<Pipeline::Outcome> Run(const Job& job, const std::vector<Sources::Source>& sources,
                                   Pipeline::Progress& progress, unsigned workers) {
    progress.total = sources.size();
    std::vector<Pipeline::Outcome> outcomes(sources.size());
    if (sources.empty()) return outcomes;
    Protocol::JobMessage message;
    if (job.format) message.formatToken = std::string(job.format->token);
    message.boxWidth = job.box.width;
    message.boxHeight = job.box.height;
    message.enlarge = job.enlarge;
    message.tag = job.tag;
    message.jpegQuality = static_cast<uint32_t>(job.jpegQuality);
    message.folder = job.folder;

    Shared shared(sources, outcomes, progress, Protocol::Encode(message));
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(std::min<size_t>(workers, sources.size()));
    LimitWorkerMemory(shared.jobObject, MemoryBudget(), workers);
    std::vector<std::thread> threads;
    // A slot that cannot be started leaves its share to the others.
    try {
        for (unsigned i = 1; i < workers; ++i) threads.emplace_back(SlotLoop, std::ref(shared));
    } catch (...) {
    }
    SlotLoop(shared);
    for (std::thread& thread : threads) thread.join();

    // What ran out of memory beside the others gets one more try alone,
    // with the whole budget.
    std::sort(shared.retry.begin(), shared.retry.end());
    try {
        Slot alone(shared);
        for (size_t i : shared.retry) {
            if (!progress.cancel.load()) {
                progress.SetCurrent(sources[i].name);
                bool outOfMemory = false;
                outcomes[i] = alone.Convert(sources[i], outOfMemory);
            }
            progress.done.fetch_add(1);
        }
    } catch (...) {
    }
    MarkUnreached(outcomes, progress);
    return outcomes;
}

}  // namespace Workers
