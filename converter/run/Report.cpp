#include "converter/run/Report.h"

#include <windows.h>

#include "converter/base/Texts.h"

namespace Report {

namespace {

void WriteError(const std::wstring& text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE || text.empty()) return;
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length, nullptr, nullptr);
    utf8 += "\r\n";
    DWORD written = 0;
    WriteFile(error, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void AddSubstitute(Summary& summary, const Pipeline::Outcome& outcome) {
    for (Summary::Substituted& kind : summary.substituted)
        if (kind.from == outcome.substituteFrom && kind.to == outcome.substituteTo) {
            ++kind.count;
            return;
        }
    summary.substituted.push_back({outcome.substituteFrom, outcome.substituteTo, 1});
}

// One "<path>: <reason>" line a picture, at most `max` of them; the rest
// are counted.
void AddLines(std::wstring& text, const std::vector<Sources::Problem>& lines, size_t max) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == max) {
            text += L"\n\u2026 und " + std::to_wstring(lines.size() - max) + L" weitere.";
            break;
        }
        text += L"\n" + lines[i].path + L": " + lines[i].reason;
    }
}

}  // namespace

Summary Summarize(const Sources::Collected& collected, const std::vector<Pipeline::Outcome>& outcomes,
                  bool cancelled) {
    Summary summary;
    summary.cancelled = cancelled;
    summary.problems = collected.problems;
    for (size_t i = 0; i < outcomes.size() && i < collected.sources.size(); ++i) {
        const Pipeline::Outcome& outcome = outcomes[i];
        if (outcome.converted) {
            ++summary.converted;
            summary.results.push_back(outcome.result);
            if (!outcome.substituteTo.empty()) AddSubstitute(summary, outcome);
            if (!outcome.remark.empty()) summary.incomplete.push_back({collected.sources[i].path, outcome.remark});
        } else if (!outcome.started) {
            ++summary.notReached;
        } else {
            summary.problems.push_back({collected.sources[i].path, outcome.reason});
        }
    }
    summary.skipped = summary.problems.size();
    return summary;
}

std::wstring Text(const Summary& summary, size_t maxProblems) {
    std::wstring text = std::to_wstring(summary.converted) +
                        (summary.converted == 1 ? L" Datei wurde umgewandelt." : L" Dateien wurden umgewandelt.");
    // "2 Dateien (Kamera-Rohdaten) wurden als JPEG gespeichert: ..."
    for (const Summary::Substituted& kind : summary.substituted)
        text += L"\n" + std::to_wstring(kind.count) + (kind.count == 1 ? L" Datei (" : L" Dateien (") + kind.from +
                (kind.count == 1 ? L") wurde als " : L") wurden als ") + kind.to +
                L" gespeichert: ihr eigenes Format kann nicht geschrieben werden.";
    // "1 Datei wurde unvollständig umgewandelt:" and the source's line.
    if (!summary.incomplete.empty())
        text += L"\n" + std::to_wstring(summary.incomplete.size()) +
                (summary.incomplete.size() == 1 ? L" Datei wurde unvollst\u00e4ndig umgewandelt:"
                                                : L" Dateien wurden unvollst\u00e4ndig umgewandelt:");
    AddLines(text, summary.incomplete, maxProblems);
    if (summary.skipped)
        text += L"\n" + std::to_wstring(summary.skipped) +
                (summary.skipped == 1 ? L" Datei wurde \u00fcbersprungen:" : L" Dateien wurden \u00fcbersprungen:");
    AddLines(text, summary.problems, maxProblems);
    // Only a cancel leaves pictures unreached; should anything else, they
    // are counted all the same.
    if (summary.cancelled || summary.notReached)
        text += std::wstring(summary.cancelled ? L"\nAbgebrochen: " : L"\n") + std::to_wstring(summary.notReached) +
                (summary.notReached == 1 ? L" Datei wurde nicht mehr bearbeitet." : L" Dateien wurden nicht mehr bearbeitet.");
    return text;
}

void Tell(const Summary& summary) {
    WriteError(Text(summary, static_cast<size_t>(-1)));
    if (summary.skipped || summary.cancelled || summary.notReached || !summary.incomplete.empty())
        MessageBoxW(nullptr, Text(summary, 15).c_str(), Texts::Title, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

void Refusal(const std::wstring& message) {
    WriteError(message);
    MessageBoxW(nullptr, message.c_str(), Texts::Title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace Report
