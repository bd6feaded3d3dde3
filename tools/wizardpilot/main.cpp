// wizardpilot: plays the user in front of the converter's wizard for the demo,
// where no one sits at the virtual display. It waits for the dialog, prints
// what it shows, creates a handshake file once it is drawn (so that the demo
// can take its picture), waits for a go file when asked to, and then presses
// Enter the way the keyboard does: the dialog's default button, OK.
//
//   wizardpilot.exe [--handshake FILE] [--go FILE] [--timeout SECONDS]
//
// Exit codes: 0 pressed; 1 no dialog appeared in time; 2 wrong arguments.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "converter/wizard/WizardIds.h"

namespace {

constexpr wchar_t kTitle[] = L"Vardel Quennel Wizard";

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Field(HWND dialog, int id) {
    wchar_t text[1024] = {};
    SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

bool Checked(HWND dialog, int id) {
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring handshake, go;
    DWORD timeoutMs = 120000;
    for (int i = 1; args && i + 1 < count; i += 2) {
        const std::wstring name = args[i];
        if (name == L"--handshake") handshake = args[i + 1];
        else if (name == L"--go") go = args[i + 1];
        else if (name == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(args[i + 1])) * 1000;
        else return 2;
    }
    if (!args || count % 2 == 0) return 2;
    LocalFree(args);

    const DWORD start = GetTickCount();
    HWND dialog = nullptr;
    while (!dialog && GetTickCount() - start < timeoutMs) {
        dialog = FindWindowW(L"#32770", kTitle);
        if (dialog && !IsWindowVisible(dialog)) dialog = nullptr;
        if (!dialog) Sleep(50);
    }
    if (!dialog) {
        std::fprintf(stderr, "wizardpilot: no wizard dialog appeared\n");
        return 1;
    }
    Sleep(300);  // lets the dialog finish drawing before anyone looks
    std::printf("The wizard shows: %s\n", Field(dialog, IDC_WIZARD_SELECTION).c_str());
    std::printf("  Zielformat: %s\n", Field(dialog, IDC_WIZARD_FORMAT).c_str());
    std::printf("  Größe:      %s%s\n", Field(dialog, IDC_WIZARD_SIZE).c_str(),
                Checked(dialog, IDC_WIZARD_NO_ENLARGE) ? ", nicht vergrößern" : "");
    std::printf("  Speichern:  %s\n", Checked(dialog, IDC_WIZARD_INTO_FOLDER)
                                          ? ("im Ordner " + Field(dialog, IDC_WIZARD_FOLDER)).c_str()
                                          : "neben der Originaldatei");
    std::fflush(stdout);
    if (!handshake.empty()) CloseHandle(CreateFileW(handshake.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!go.empty())
        while (GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < timeoutMs)
            Sleep(50);
    std::printf("Pressing Enter (OK).\n");
    std::fflush(stdout);
    const HWND focus = GetDlgItem(dialog, IDC_WIZARD_FORMAT);
    PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(focus, WM_KEYUP, VK_RETURN, 1 | (1u << 30) | (1u << 31));
    return 0;
}
