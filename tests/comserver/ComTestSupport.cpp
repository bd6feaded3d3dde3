#include "ComTestSupport.h"

namespace {

std::vector<ShownBox> shownBoxes;

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    shownBoxes.push_back({owner, text ? text : "<null>", caption ? caption : "<null>", type});
    return IDOK;
}

using MallocFn = void*(__cdecl*)(size_t);
MallocFn realMalloc = nullptr;
volatile LONG failArmed = 0;
volatile LONG failFired = 0;

void* __cdecl MaybeFailingMalloc(size_t size) {
    if (InterlockedExchange(&failArmed, 0)) {
        InterlockedExchange(&failFired, 1);
        return nullptr;
    }
    return realMalloc(size);
}

}  // namespace

MessageBoxRecorder::MessageBoxRecorder(HMODULE module)
    : patch_(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBoxA)) {
    shownBoxes.clear();
}

MessageBoxRecorder::~MessageBoxRecorder() = default;

const std::vector<ShownBox>& MessageBoxRecorder::Boxes() const { return shownBoxes; }

FailingMalloc::FailingMalloc(HMODULE module)
    : patch_(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&MaybeFailingMalloc)) {
    realMalloc = reinterpret_cast<MallocFn>(patch_.Original());
    failArmed = 0;
    failFired = 0;
}

FailingMalloc::~FailingMalloc() { failArmed = 0; }

void FailingMalloc::Arm() {
    failFired = 0;
    InterlockedExchange(&failArmed, 1);
}

bool FailingMalloc::Fired() const { return failFired != 0; }

STDMETHODIMP TestOuter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    if (!inner) return E_NOINTERFACE;
    ++queries;
    return inner->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) TestOuter::AddRef() {
    ++addRefs;
    return static_cast<ULONG>(InterlockedIncrement(&refs));
}

STDMETHODIMP_(ULONG) TestOuter::Release() {
    ++releases;
    return static_cast<ULONG>(InterlockedDecrement(&refs));
}

namespace {
DWORD WINAPI RunWork(void* p) {
    auto* work = static_cast<std::function<void()>*>(p);
    (*work)();
    delete work;
    return 0;
}
}  // namespace

HANDLE StartThread(std::function<void()> work) {
    auto* owned = new std::function<void()>(std::move(work));
    HANDLE thread = CreateThread(nullptr, 0, &RunWork, owned, 0, nullptr);
    if (!thread) delete owned;
    return thread;
}

void RunOnThread(std::function<void()> work) {
    std::vector<HANDLE> one{StartThread(std::move(work))};
    JoinAll(one);
}

void JoinAll(std::vector<HANDLE>& threads) {
    for (HANDLE h : threads) {
        if (!h) continue;
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    threads.clear();
}

ProcessUsage MeasureProcess() {
    ProcessUsage usage;
    DWORD ignored = 0;
    for (ULONG_PTR value = 4; value < 0x40000; value += 4)
        usage.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &ignored) ? 1 : 0;

    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) usage.heapBytes += entry.cbData;
        HeapUnlock(heap);
    }

    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* p = nullptr; VirtualQuery(p, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) usage.committedBytes += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return usage;
}

// {0E3C52A1-7D46-4B8E-A1F2-3C4D5E6F7081}: carried by nothing.
const IID kSomeOtherClsid = {0x0E3C52A1, 0x7D46, 0x4B8E, {0xA1, 0xF2, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81}};

const IID* const kObjectInterfaces[4] = {&IID_IContextMenu, &IID_IShellExtInit, &IID_ISupportErrorInfo,
                                         &IID_IUnknown};
