#include "converter/wizard/ProgressWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <thread>

#include "converter/base/Texts.h"
#include "converter/wizard/CommonControls.h"

namespace ProgressWindow {

namespace {

constexpr wchar_t ClassName[] = L"QuennelTransformProgress";
constexpr UINT ShowAfterMs = 500;
constexpr int CancelId = IDCANCEL;
constexpr int Width = 420, Height = 150;

struct Controls {
    HWND window = nullptr, count = nullptr, file = nullptr, bar = nullptr, cancel = nullptr;
    HFONT font = nullptr;
    Pipeline::Progress* progress = nullptr;
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* controls = reinterpret_cast<Controls*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == CancelId && controls) {
            controls->progress->cancel = true;
            EnableWindow(controls->cancel, FALSE);
            SetWindowTextW(controls->count, L"Wird abgebrochen \u2026");
        }
        return 0;
    case WM_CLOSE:  // closing the window is cancelling; it goes when the run ends
        SendMessageW(window, WM_COMMAND, CancelId, 0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
           int id, HFONT font) {
    const HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                       nullptr);
    if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

bool Create(Controls& controls, const wchar_t* caption) {
    CommonControls::Init(ICC_PROGRESS_CLASS);
    WNDCLASSEXW cls = {};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = ClassName;
    RegisterClassExW(&cls);

    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        controls.font = CreateFontIndirectW(&metrics.lfMessageFont);

    RECT frame = {0, 0, Width, Height};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    controls.window = CreateWindowExW(WS_EX_APPWINDOW, ClassName, caption, style,
                                      (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                                      (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    if (!controls.window) return false;
    SetWindowLongPtrW(controls.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&controls));
    controls.count = Child(controls.window, L"STATIC", L"", SS_LEFT, 16, 14, Width - 32, 20, 100, controls.font);
    controls.file = Child(controls.window, L"STATIC", L"", SS_LEFT | SS_PATHELLIPSIS | SS_NOPREFIX, 16, 38,
                          Width - 32, 20, 101, controls.font);
    controls.bar = Child(controls.window, PROGRESS_CLASSW, L"", 0, 16, 66, Width - 32, 18, 102, nullptr);
    controls.cancel = Child(controls.window, L"BUTTON", L"Abbrechen", WS_TABSTOP | BS_DEFPUSHBUTTON,
                            Width - 16 - 96, Height - 16 - 28, 96, 28, CancelId, controls.font);
    return true;
}

void Update(Controls& controls) {
    const Pipeline::Progress& progress = *controls.progress;
    if (progress.cancel) return;  // keeps "Wird abgebrochen"
    const size_t done = progress.done.load();
    const size_t total = progress.total.load();
    const std::wstring count = total == 0 ? std::wstring(L"Dateien werden gesucht \u2026")
                                          : std::to_wstring(std::min(done + 1, total)) + L" von " +
                                                std::to_wstring(total);
    SetWindowTextW(controls.count, count.c_str());
    SetWindowTextW(controls.file, progress.Current().c_str());
    SendMessageW(controls.bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total ? total : 1));
    SendMessageW(controls.bar, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

void ShowWhileWorking(Controls& controls, const wchar_t* caption, Pipeline::Progress& progress, HANDLE finished,
                      HANDLE cancelled);

}  // namespace

std::wstring CancelEventName(DWORD processId) {
    return L"Local\\QuennelTransformCancel-" + std::to_wstring(processId);
}

void Run(const std::function<void()>& work, Pipeline::Progress& progress, const wchar_t* caption) {
    const HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!finished) {  // nothing to wait on: work without a window
        work();
        return;
    }
    const HANDLE cancelled = CreateEventW(nullptr, TRUE, FALSE, CancelEventName(GetCurrentProcessId()).c_str());
    std::thread worker([&] {
        work();
        SetEvent(finished);
    });

    Controls controls;
    controls.progress = &progress;
    // Nothing may leave this thread while the worker thread runs: a joinable
    // std::thread destroyed by an exception is std::terminate, a run lost
    // without a summary. Out of memory here stops the run instead.
    try {
        ShowWhileWorking(controls, caption, progress, finished, cancelled);
    } catch (...) {
        progress.cancel = true;
        WaitForSingleObject(finished, INFINITE);
    }
    worker.join();
    if (controls.window) DestroyWindow(controls.window);
    if (controls.font) DeleteObject(controls.font);
    if (cancelled) CloseHandle(cancelled);
    CloseHandle(finished);
}

namespace {

void ShowWhileWorking(Controls& controls, const wchar_t* caption, Pipeline::Progress& progress, HANDLE finished,
                      HANDLE cancelled) {
    // The window is made when it is due: a short run makes none, and so
    // never waits for the desktop (which Wine starts for a process's first window).
    bool haveWindow = false;
    const DWORD start = GetTickCount();
    bool shown = false;
    const HANDLE waits[2] = {finished, cancelled};
    const DWORD waitCount = cancelled ? 2 : 1;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(waitCount, waits, FALSE, 100, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_OBJECT_0 + 1) {
            if (haveWindow)
                SendMessageW(controls.window, WM_COMMAND, CancelId, 0);
            else
                progress.cancel = true;
            ResetEvent(cancelled);
        }
        if (woke == WAIT_FAILED) Sleep(100);  // never spin
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (haveWindow && IsDialogMessageW(controls.window, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!shown && GetTickCount() - start >= ShowAfterMs) {
            haveWindow = Create(controls, caption);
            shown = true;
            if (!haveWindow) continue;
            if (progress.cancel) SendMessageW(controls.window, WM_COMMAND, CancelId, 0);
            ShowWindow(controls.window, SW_SHOWNORMAL);
            SetForegroundWindow(controls.window);
        }
        if (haveWindow) Update(controls);
    }
}

}  // namespace

}  // namespace ProgressWindow
