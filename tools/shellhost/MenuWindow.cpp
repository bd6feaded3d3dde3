#include "MenuWindow.h"

#include "Text.h"

namespace {

constexpr wchar_t kClassName[] = L"QuennelShellHostWindow";
constexpr UINT_PTR kPollTimer = 1;
constexpr int kWidth = 760;
constexpr int kHeight = 560;
constexpr int kTitleHeight = 28;
constexpr int kRowHeight = 20;
constexpr int kStatusHeight = 24;

struct ShowState {
    const MenuShow* show = nullptr;
    int stage = 0;              // 0: keys not sent, 1: sent, 2: drawn and announced
    bool handshakeSeen = false;
    ULONGLONG deadline = 0;
    std::wstring status;
};

ShowState* g_state = nullptr;  // the menu loop runs on this one thread

int VisibleMenuWindows() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32768", nullptr)) != nullptr)
        if (IsWindowVisible(window)) ++count;
    return count;
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);

    RECT title = {0, 0, client.right, kTitleHeight};
    FillRect(dc, &title, GetSysColorBrush(COLOR_ACTIVECAPTION));
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    std::wstring caption = g_state ? g_state->show->folder : std::wstring();
    RECT titleText = {8, 0, client.right - 8, kTitleHeight};
    DrawTextW(dc, caption.c_str(), -1, &titleText, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

    if (g_state) {
        const std::vector<std::wstring>& items = g_state->show->items;
        int y = kTitleHeight + 8;
        for (size_t i = 0; i < items.size() && y + kRowHeight < client.bottom - kStatusHeight; ++i) {
            RECT row = {8, y, 8 + 260, y + kRowHeight};
            FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
            RECT text = {row.left + 6, row.top, row.right - 4, row.bottom};
            DrawTextW(dc, items[i].c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
            y += kRowHeight;
        }
    }

    RECT status = {0, client.bottom - kStatusHeight, client.right, client.bottom};
    FillRect(dc, &status, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &status, BDR_SUNKENOUTER, BF_TOP);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT statusText = {8, status.top, status.right - 8, status.bottom};
    std::wstring line = g_state ? g_state->status : std::wstring();
    DrawTextW(dc, line.c_str(), -1, &statusText, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}

void SetStatus(HWND hwnd, const std::wstring& text) {
    if (!g_state || g_state->status == text) return;
    g_state->status = text;
    RECT client;
    GetClientRect(hwnd, &client);
    RECT status = {0, client.bottom - kStatusHeight, client.right, client.bottom};
    InvalidateRect(hwnd, &status, FALSE);
}

// Opens the submenus along the path and highlights its last entry, with the
// keystrokes a user would type, posted to this thread's own menu loop.
void SendPathKeys(HWND menuWindow, const std::vector<UINT>& path) {
    for (size_t depth = 0; depth < path.size(); ++depth) {
        if (depth > 0) PostMessageW(menuWindow, WM_KEYDOWN, VK_RIGHT, 0);  // opens it, first entry selected
        UINT downs = depth == 0 ? path[depth] + 1 : path[depth];
        for (UINT i = 0; i < downs; ++i) PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    }
}

void OnIdle(HWND hwnd, HWND menuWindow) {
    if (!g_state) return;
    if (g_state->stage == 0) {
        g_state->stage = 1;
        SendPathKeys(menuWindow, g_state->show->openPath);
        return;
    }
    if (g_state->stage == 1) {
        int wanted = g_state->show->openPath.size() > 1 ? static_cast<int>(g_state->show->openPath.size()) : 1;
        if (VisibleMenuWindows() < wanted) return;
        g_state->stage = 2;
        UpdateWindow(hwnd);
        GdiFlush();
        const std::wstring& file = g_state->show->handshakeFile;
        if (!file.empty()) {
            HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(handle, "shown\r\n", 7, &written, nullptr);
                CloseHandle(handle);
            }
        } else {
            Out("menu shown: choose an entry, or press Esc to close it\n");
        }
    }
}

void OnTimer() {
    if (!g_state) return;
    if (GetTickCount64() >= g_state->deadline) {
        EndMenu();
        return;
    }
    const std::wstring& file = g_state->show->handshakeFile;
    if (g_state->stage == 2 && !file.empty() && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        EndMenu();
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_ENTERIDLE:
        if (wParam == MSGF_MENU) OnIdle(hwnd, reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_TIMER:
        if (wParam == kPollTimer) OnTimer();
        return 0;
    case WM_MENUSELECT: {
        // An entry that opens a submenu is named by its position, any other by
        // its identifier; 0xFFFF in the flags means the menu closed.
        const UINT flags = HIWORD(wParam);
        std::string help;
        if (g_state && g_state->show->helpText && flags != 0xFFFF && !(flags & MF_SEPARATOR)) {
            UINT id = LOWORD(wParam);
            if (flags & MF_POPUP) {
                MENUITEMINFOW info = {};
                info.cbSize = sizeof info;
                info.fMask = MIIM_ID;
                id = GetMenuItemInfoW(reinterpret_cast<HMENU>(lParam), id, TRUE, &info) ? info.wID : 0;
            }
            help = g_state->show->helpText(id);
        }
        SetStatus(hwnd, WideFromUtf8(help));
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

HostWindow::HostWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, kClassName, L"Shell host", WS_POPUP, 20, 20, kWidth, kHeight, nullptr, nullptr,
                            wc.hInstance, nullptr);
}

HostWindow::~HostWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
}

UINT HostWindow::Show(const MenuShow& show, POINT& at, bool& shown) {
    ShowState state;
    state.show = &show;
    state.deadline = GetTickCount64() + show.timeoutMs;
    g_state = &state;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    UpdateWindow(hwnd_);
    SetTimer(hwnd_, kPollTimer, 100, nullptr);

    RECT window;
    GetWindowRect(hwnd_, &window);
    at.x = window.left + 140;
    at.y = window.top + kTitleHeight + 8 + kRowHeight / 2;
    UINT chosen = static_cast<UINT>(TrackPopupMenuEx(show.menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                                     at.x, at.y, hwnd_, nullptr));
    KillTimer(hwnd_, kPollTimer);
    shown = state.stage == 2;
    g_state = nullptr;
    ShowWindow(hwnd_, SW_HIDE);
    return chosen;
}
