// transform.exe: converts or resizes the pictures the context-menu extension
// hands it.
//
//   transform.exe "<list file>" "<token>"
//
// The list file holds one path a line in the ANSI code page (CR LF); a line
// may name a folder, which stands for the pictures in it and its subfolders.
// It is read whole at start-up and never touched again: the extension may
// replace it on the next right-click while this run still works.
//
// The token TOXXX first shows the wizard's dialog (converter/Wizard.h); its
// answer runs the same way as a menu entry's token.
//
// Exit codes: 0 every picture converted; 1 some skipped or the run was
// cancelled; 2 nothing started (wrong arguments, unreadable list, unknown
// token, invalid preset, no dialog could be shown); 1223 (ERROR_CANCELLED,
// "The operation was canceled by the user") the wizard was cancelled before
// anything started: nothing was written.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "converter/ListText.h"
#include "converter/Pipeline.h"
#include "converter/ProgressWindow.h"
#include "converter/Report.h"
#include "converter/Request.h"
#include "converter/Sources.h"
#include "converter/Texts.h"
#include "converter/Wizard.h"
#include "converter/readers/Readers.h"

namespace {

constexpr int ExitDone = 0;
constexpr int ExitPartly = 1;
constexpr int ExitNotStarted = 2;
constexpr int ExitWizardCancelled = ERROR_CANCELLED;
// No list the extension writes comes near this; a larger file is no list.
constexpr LONGLONG MaxListBytes = 64LL << 20;

int Refuse(const std::wstring& message) {
    Report::Refusal(message);
    return ExitNotStarted;
}

std::string NarrowToken(const std::wstring& token) {
    std::string narrow;
    for (wchar_t c : token) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

bool ReadList(const std::wstring& path, std::string& bytes, DWORD& error) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    if (ok && size.QuadPart > MaxListBytes) {
        ok = false;
        SetLastError(ERROR_FILE_TOO_LARGE);
    }
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() || (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) != FALSE);
        if (ok) bytes.resize(got);
    }
    if (!ok) error = GetLastError();
    CloseHandle(file);
    return ok;
}

int Main() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) {
        if (args) LocalFree(args);
        return Refuse(L"transform.exe wandelt die im Kontextmen\u00fc \u201eGrafikformat \u00e4ndern\u201c "
                      L"gew\u00e4hlten Grafikdateien um und wird von dort gestartet:\n\n"
                      L"transform.exe \"<Liste der Dateien>\" \"<Auftrag>\"");
    }
    const std::wstring listPath = args[1];
    const std::string token = NarrowToken(args[2]);
    LocalFree(args);

    const Request::Parsed request = Request::FromToken(token);
    const bool wizard = request.status == Request::Status::Wizard;
    if (request.status != Request::Status::Ready && !wizard) return Refuse(request.message);

    std::string listBytes;
    DWORD error = 0;
    if (!ReadList(listPath, listBytes, error))
        return Refuse(L"Die Liste der Dateien \u201e" + listPath + L"\u201c kann nicht gelesen werden. " +
                      Texts::ReasonForError(error));
    const std::vector<std::string> lines = ListText::Lines(listBytes);
    if (lines.empty()) return Refuse(L"Die Liste der Dateien \u201e" + listPath + L"\u201c ist leer.");

    Pipeline::Progress progress;
    Sources::Collected collected;
    std::vector<Pipeline::Outcome> outcomes;
    Job job = request.job;
    if (wizard) {
        const Wizard::Answer answer = Wizard::Choose(lines, job);
        if (answer == Wizard::Answer::Cancelled) return ExitWizardCancelled;
        if (answer == Wizard::Answer::NoDialog)
            return Refuse(L"Der Vardel Quennel Wizard kann nicht angezeigt werden. "
                          L"Bitte w\u00e4hlen Sie ein Format oder eine Gr\u00f6\u00dfe direkt im Kontextmen\u00fc.");
    }
    ProgressWindow::Run(
        [&] {
            collected = Sources::Collect(lines, Readers::FolderExtensions());
            outcomes = Pipeline::Run(job, collected.sources, progress);
        },
        progress, Texts::Title);

    const Report::Summary summary = Report::Summarize(collected, outcomes, progress.cancel);
    Report::Tell(summary);
    return summary.skipped == 0 && !summary.cancelled ? ExitDone : ExitPartly;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Whatever goes wrong, the user gets an answer, not a crash dialog.
    try {
        return Main();
    } catch (...) {
        Report::Refusal(L"Unerwarteter Fehler beim Umwandeln.");
        return 1;
    }
}
