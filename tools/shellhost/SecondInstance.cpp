#include "SecondInstance.h"

#include <ole2.h>

#include "ContextMenu.h"
#include "Text.h"

namespace {

struct Job {
    const SecondInstanceRequest* request;
    SecondInstanceResult result;
};

const MenuEntry* FindByVerb(const std::vector<MenuEntry>& menu, const HandlerInstance& instance,
                            const std::wstring& verb) {
    for (const MenuEntry& entry : menu) {
        if (entry.separator) continue;
        if (entry.submenu) {
            if (const MenuEntry* inner = FindByVerb(entry.children, instance, verb)) return inner;
            continue;
        }
        if (!instance.Owns(entry.id)) continue;
        UINT offset = entry.id - instance.FirstId();
        std::wstring wide;
        instance.VerbW(offset, wide);
        if (wide.empty()) {
            std::string ansi;
            instance.VerbA(offset, ansi);
            wide = WideFromCodePage(ansi, CP_ACP);
        }
        if (!wide.empty() && EqualNoCase(wide, verb)) return &entry;
    }
    return nullptr;
}

void Work(Job& job) {
    const SecondInstanceRequest& request = *job.request;
    const Selection& selection = *request.selection;
    IDataObject* data = nullptr;
    HRESULT hr = selection.CreateDataObject(selection.Count(), &data);
    if (FAILED(hr)) {
        job.result = {hr, "the folder gave no data object for the whole selection: " + HresultText(hr)};
        return;
    }
    HandlerInstance instance;
    std::string step;
    hr = instance.Create(request.handler, selection.FolderPidl(), data, step);
    data->Release();
    if (FAILED(hr)) {
        job.result = {hr, "second instance: " + step + " failed: " + HresultText(hr)};
        return;
    }
    HMENU menu = CreatePopupMenu();
    hr = instance.AddToMenu(menu, ContextMenu::kIdCmdFirst, ContextMenu::kIdCmdLast, CMF_NORMAL);
    if (FAILED(hr) || instance.IdCount() == 0) {
        DestroyMenu(menu);
        job.result = {FAILED(hr) ? hr : E_FAIL,
                      "second instance: QueryContextMenu " + HresultText(hr) + " added nothing"};
        return;
    }
    std::vector<MenuEntry> entries = ReadMenu(menu);
    const MenuEntry* found = nullptr;
    if (!request.verbW.empty()) {
        found = FindByVerb(entries, instance, request.verbW);
    } else {
        MenuPath path = request.path;
        if (!path.positions.empty()) path.positions[0] = path.positions[0] - request.insertedAt + instance.InsertedAt();
        found = FollowPath(entries, path);
    }
    if (!found || found->submenu || !instance.Owns(found->id)) {
        DestroyMenu(menu);
        job.result = {E_FAIL, "second instance: the chosen entry is not in the menu built for the whole selection"};
        return;
    }
    UINT offset = found->id - instance.FirstId();
    hr = instance.Invoke(offset, request.owner, selection.FolderPath(), request.at);
    DestroyMenu(menu);
    job.result = {hr, "second instance: \"" + Utf8(found->caption) + "\" at identifier " +
                          std::to_string(found->id) + " (offset " + std::to_string(offset) + "), thread " +
                          std::to_string(GetCurrentThreadId())};
}

DWORD WINAPI ThreadMain(void* parameter) {
    Job& job = *static_cast<Job*>(parameter);
    HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr)) {
        job.result = {hr, "second instance: OleInitialize failed: " + HresultText(hr)};
        return 0;
    }
    Work(job);
    OleUninitialize();
    return 0;
}

}  // namespace

SecondInstanceResult RunSecondInstance(const SecondInstanceRequest& request) {
    Job job{&request, {}};
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, &job, 0, nullptr);
    if (!thread) return {HRESULT_FROM_WIN32(GetLastError()), "cannot start the background thread"};
    // The UI thread keeps its messages flowing meanwhile, as Explorer's does.
    const ULONGLONG deadline = GetTickCount64() + request.timeoutMs;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            // The thread still uses `job`; it cannot be stopped safely, so the
            // process ends here with the report.
            Err("shellhost: the second instance did not finish within " + std::to_string(request.timeoutMs / 1000) +
                " s\n");
            ExitProcess(5);
        }
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    CloseHandle(thread);
    return job.result;
}
