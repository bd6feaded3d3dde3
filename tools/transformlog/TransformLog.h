// The log of the converter stand-in (transformlog.exe, installed as
// transform.exe): what each run was handed.
//
// Where: the file named by the environment variable QUENNEL_TRANSFORM_LOG when
// it is set and not empty, else "transform.log" beside transform.exe.
//
// Format: one record per run, appended in the order the runs finished. The
// file is always replaced whole (a temp file beside it, then MoveFileEx), so a
// reader sees either the records before a run or those after it, never a
// half-written one. Runs that finish at the same time take turns through a
// named mutex.
//
//   record := "RUN " <process id, decimal> CR LF  field*  "END" CR LF
//   field  := <name> " " <byte count, decimal> CR LF  <that many bytes>  CR LF
//
// The bytes of a field are raw (8-bit, anything may occur, CR LF included);
// only the count says where they end. Fields, in this order:
//   CMDLINE    the full command line, GetCommandLineA, byte for byte
//   LISTPATH   the first argument after the program, without its quotes
//   TOKEN      the second argument, without its quotes (absent if none)
//   LIST       a byte copy of the file named by LISTPATH, or instead
//   LISTERROR  the GetLastError code, in decimal, of failing to read it
//
// Include this header to read the log (Read, Parse); transform.exe writes it
// with FormatRecord.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace TransformLog {

constexpr char PathVariable[] = "QUENNEL_TRANSFORM_LOG";
constexpr char FileName[] = "transform.log";
constexpr char MutexName[] = "QuennelTransformLog";

struct Run {
    unsigned long processId = 0;
    std::vector<std::pair<std::string, std::string>> fields;

    bool Has(const std::string& name) const {
        for (const auto& f : fields)
            if (f.first == name) return true;
        return false;
    }
    // The field's bytes; empty when absent.
    std::string Field(const std::string& name) const {
        for (const auto& f : fields)
            if (f.first == name) return f.second;
        return std::string();
    }
};

inline void AppendField(std::string& out, const std::string& name, const std::string& bytes) {
    out += name;
    out += ' ';
    out += std::to_string(bytes.size());
    out += "\r\n";
    out += bytes;
    out += "\r\n";
}

inline std::string FormatRecord(const Run& run) {
    std::string out = "RUN " + std::to_string(run.processId) + "\r\n";
    for (const auto& f : run.fields) AppendField(out, f.first, f.second);
    out += "END\r\n";
    return out;
}

namespace detail {

// The text up to the next CR LF from `pos`, which moves past it.
inline bool ReadLine(const std::string& in, size_t& pos, std::string& line) {
    const size_t end = in.find("\r\n", pos);
    if (end == std::string::npos) return false;
    line = in.substr(pos, end - pos);
    pos = end + 2;
    return true;
}

inline bool ParseCount(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

}  // namespace detail

// All records of a log's bytes; false (and the records read so far) when the
// bytes do not follow the format.
inline bool Parse(const std::string& in, std::vector<Run>& runs) {
    runs.clear();
    size_t pos = 0;
    std::string line;
    while (pos < in.size()) {
        Run run;
        if (!detail::ReadLine(in, pos, line) || line.compare(0, 4, "RUN ") != 0 ||
            !detail::ParseCount(line.substr(4), run.processId))
            return false;
        for (;;) {
            if (!detail::ReadLine(in, pos, line)) return false;
            if (line == "END") break;
            const size_t blank = line.find(' ');
            unsigned long count = 0;
            if (blank == std::string::npos || !detail::ParseCount(line.substr(blank + 1), count))
                return false;
            if (in.size() - pos < count + 2 || in.compare(pos + count, 2, "\r\n") != 0) return false;
            run.fields.emplace_back(line.substr(0, blank), in.substr(pos, count));
            pos += count + 2;
        }
        runs.push_back(std::move(run));
    }
    return true;
}

// The whole file, read with every sharing mode so the writer's replace is not
// blocked; false when it cannot be opened or read.
inline bool ReadFileBytes(const std::string& path, std::string& bytes, DWORD* error = nullptr) {
    bytes.clear();
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return false;
    }
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            if (error) *error = GetLastError();
            ok = false;
            break;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return ok;
}

// The records of the log at `path`; an absent log has none.
inline bool Read(const std::string& path, std::vector<Run>& runs) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        runs.clear();
        return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    return Parse(bytes, runs);
}

}  // namespace TransformLog
