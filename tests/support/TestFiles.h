// Files, folders and environment variables as tests set them up and read
// them back.
#pragma once

#include <string>

// Whole file, opened with read and write sharing; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
// Replaces the file with exactly these bytes; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool FileExists(const std::wstring& path);
// Deletes the folder and everything below it, read-only files included.
void RemoveTree(const std::string& dir);  // dir with a trailing backslash
void RemoveTree(const std::wstring& dir);
// The text in the ANSI code page as UTF-16.
std::wstring WideFromAnsi(const std::string& text);

// Sets (or with a null value removes) an environment variable of this process
// for the scope; the old value, an empty one included, comes back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};
