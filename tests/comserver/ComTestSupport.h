// Helpers shared by the COM server tests: count probes, a recording message
// box, a failing allocator and a controlling outer object for aggregation.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ExtensionDll.h"
#include "support/ImportPatch.h"

// A reference count as AddRef/Release report it: AddRef answers n + 1 and
// the matching Release answers n.
template <typename T>
ULONG CountOf(T* p) {
    p->AddRef();
    return p->Release();
}

// What the module asked MessageBoxA to show.
struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Replaces MessageBoxA in `module` for the scope; every call is recorded and
// answered IDOK without showing anything.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(HMODULE module);
    ~MessageBoxRecorder();
    bool Applied() const { return patch_.Applied(); }
    const std::vector<ShownBox>& Boxes() const;

private:
    ImportPatch patch_;
};

// Replaces the module's malloc (msvcrt.dll, behind operator new) for the
// scope; Arm() makes the next call fail, once.
class FailingMalloc {
public:
    explicit FailingMalloc(HMODULE module);
    ~FailingMalloc();
    bool Applied() const { return patch_.Applied(); }
    void Arm();
    bool Fired() const;  // the armed failure has happened

private:
    ImportPatch patch_;
};

// A controlling object for aggregation tests: answers IUnknown itself and
// passes every other query to the inner object's IUnknown, as an aggregate
// does. Lives on the stack; its count is only watched.
class TestOuter : public IUnknown {
public:
    IUnknown* inner = nullptr;
    LONG refs = 1;
    LONG addRefs = 0;
    LONG releases = 0;
    LONG queries = 0;  // queries passed on to the inner object

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
};

// Starts `work` on a new thread; the caller waits for and closes the handle.
HANDLE StartThread(std::function<void()> work);
// Runs `work` on a new thread and waits for it.
void RunOnThread(std::function<void()> work);
// Waits for and closes every handle.
void JoinAll(std::vector<HANDLE>& threads);

// What the process holds, for leak checks. Wine answers 0 for
// GetProcessHandleCount and for PrivateUsage, so the handle table is probed
// and memory is summed from the heaps and the committed private pages.
struct ProcessUsage {
    size_t handles = 0;
    size_t heapBytes = 0;       // busy blocks of every heap of the process
    size_t committedBytes = 0;  // committed private pages
};
ProcessUsage MeasureProcess();

extern const IID kSomeOtherClsid;

// The four identifiers of the extension object's interface table.
extern const IID* const kObjectInterfaces[4];
