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
// The token TOXXX first shows the wizard's dialog (converter/wizard/Wizard.h); its
// answer runs the same way as a menu entry's token.
//
// This process is the supervisor: the pictures are converted by copies of it
// in a worker mode (converter/run/Workers.h), so that a crashing or hanging codec
// costs one picture. "transform.exe --quennel-worker" starts that mode; the
// extension's two arguments never do.
//
// Exit codes: 0 every picture converted; 1 some skipped or the run was
// cancelled; 2 nothing started (wrong arguments, unreadable or refused list,
// unknown token, invalid preset, no dialog could be shown); 1223 (ERROR_CANCELLED,
// "The operation was canceled by the user") the wizard was cancelled before
// anything started: nothing was written.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "converter/run/ListText.h"
#include "converter/pipeline/Pipeline.h"
#include "converter/wizard/ProgressWindow.h"
#include "converter/run/Report.h"
#include "converter/run/Request.h"
#include "converter/run/Sources.h"
#include "converter/base/Texts.h"
#include "converter/wizard/Wizard.h"
#include "converter/run/Workers.h"
#include "converter/readers/Readers.h"
#include "settings/AnsiText.h"

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

// Every byte sequence of the list must be text of its encoding: a list read
// in another would name other files than the user chose.
UINT CodePageOf(ListText::Encoding encoding) { return encoding == ListText::Encoding::Utf8 ? CP_UTF8 : CP_ACP; }

bool IsText(const std::string& line, UINT codePage) {
    return line.empty() || MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, line.data(),
                                               static_cast<int>(line.size()), nullptr, 0) > 0;
}

// A list that is not what a menu writes is refused whole: a relative
// path would be taken from wherever the converter happens to run, a device
// path would be opened as if it were a picture.
std::wstring ListRefusal(const std::wstring& listPath, const std::string& bytes,
                         const std::vector<std::string>& lines) {
    const std::wstring list = L"Die Liste der Dateien \u201e" + listPath + L"\u201c ";
    const UINT codePage = CodePageOf(ListText::EncodingOf(bytes));
    const std::wstring notText =
        list + (codePage == CP_UTF8 ? L"beginnt als UTF-8-Text, enth\u00e4lt aber ung\u00fcltige UTF-8-Zeichen. "
                                      L"Es wurde nichts umgewandelt."
                                    : L"ist nicht im ANSI-Zeichensatz von Windows geschrieben (sondern zum "
                                      L"Beispiel in UTF-16). Es wurde nichts umgewandelt.");
    switch (ListText::CheckBytes(bytes)) {
    case ListText::Problem::None: break;
    case ListText::Problem::NotAnsi: return notText;
    default: return list + L"enth\u00e4lt ein Nullzeichen. Es wurde nichts umgewandelt.";
    }
    for (const std::string& line : lines) {
        if (!IsText(line, codePage)) return notText;
        const std::wstring quoted = L" \u201e" + AnsiText::Widen(line, codePage) + L"\u201c";
        switch (ListText::CheckLine(line)) {
        case ListText::Problem::None: break;
        case ListText::Problem::DevicePath:
            return list + L"nennt ein Ger\u00e4t statt einer Datei:" + quoted + L". Es wurde nichts umgewandelt.";
        case ListText::Problem::RelativePath:
            return list + L"nennt einen Pfad ohne Laufwerk oder Server:" + quoted + L". Es wurde nichts umgewandelt.";
        default: return list + L"enth\u00e4lt ein Nullzeichen. Es wurde nichts umgewandelt.";
        }
    }
    return std::wstring();
}

int Main() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (Workers::IsWorkerCommandLine(count, args)) {
        LocalFree(args);
        return Workers::WorkerMain();
    }
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
    const std::vector<std::string> lines = ListText::Lines(ListText::Body(listBytes));
    if (lines.empty()) return Refuse(L"Die Liste der Dateien \u201e" + listPath + L"\u201c ist leer.");
    const std::wstring refusal = ListRefusal(listPath, listBytes, lines);
    if (!refusal.empty()) return Refuse(refusal);
    std::vector<std::wstring> paths;
    const UINT codePage = CodePageOf(ListText::EncodingOf(listBytes));
    for (const std::string& line : lines) paths.push_back(AnsiText::Widen(line, codePage));

    Pipeline::Progress progress;
    Sources::Collected collected;
    std::vector<Pipeline::Outcome> outcomes;
    Job job = request.job;
    if (wizard) {
        const Wizard::Answer answer = Wizard::Choose(paths, job);
        if (answer == Wizard::Answer::Cancelled) return ExitWizardCancelled;
        if (answer == Wizard::Answer::NoDialog)
            return Refuse(L"Der Vardel Quennel Wizard kann nicht angezeigt werden. "
                          L"Bitte w\u00e4hlen Sie ein Format oder eine Gr\u00f6\u00dfe direkt im Kontextmen\u00fc.");
    }
    bool lostRun = false;
    ProgressWindow::Run(
        [&] {
            // Nothing may leave this thread: std::terminate would end the run
            // without a summary.
            try {
                collected = Sources::Collect(paths, Readers::FolderExtensions, &progress.cancel);
                outcomes = Workers::Run(job, collected.sources, progress);
            } catch (...) {
                lostRun = true;
            }
        },
        progress, Texts::Title);
    if (lostRun) {
        Report::Refusal(L"Nicht gen\u00fcgend Arbeitsspeicher: Die Umwandlung wurde abgebrochen. "
                        L"Bereits fertige Dateien sind vollst\u00e4ndig.");
        return ExitPartly;
    }

    const Report::Summary summary = Report::Summarize(collected, outcomes, progress.cancel);
    Report::Tell(summary);
    return summary.skipped == 0 && summary.notReached == 0 && !summary.cancelled ? ExitDone : ExitPartly;
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
