// The platform steps of carrying out a chosen command (the list file and the
// environment), kept apart from InvokeCommand so their failures can be told.
#pragma once

#include <windows.h>

#include <string>

#include "comserver/Exceptions.h"
#include "untMain/CommandTable.h"

namespace CommandExecution {

// The list file could not be created. Carries the German message and the
// result InvokeCommand answers: HRESULT_FROM_WIN32 of the system's code.
class ListFileCreateError : public EFCreateError {
public:
    ListFileCreateError(std::string message, HRESULT result)
        : EFCreateError(std::move(message)), result_(result) {}
    HRESULT Result() const noexcept { return result_; }

private:
    HRESULT result_;
};

// The one write failed or stored fewer bytes than the text holds.
// HRESULT_FROM_WIN32 of the system's code when WriteFile failed,
// STG_E_WRITEFAULT when it reported success for fewer bytes.
class ListFileWriteError : public EWriteError {
public:
    ListFileWriteError(std::string message, HRESULT result)
        : EWriteError(std::move(message)), result_(result) {}
    HRESULT Result() const noexcept { return result_; }

private:
    HRESULT result_;
};

// The environment variable "temp" as the platform gives it; empty when missing.
std::string TempValue();

// Replaces the file at `path` with exactly `text` (no write for an empty
// text) and closes it on every way out.
void SaveListFile(const std::string& path, const std::string& text);

// Where the accepted paths come from, in the list file's form. Asked only
// once the settings name an install directory.
class ListSource {
public:
    virtual std::string Text() const = 0;

protected:
    ~ListSource() = default;
};

// The whole of a chosen command for a valid offset: reads the install
// directory (nothing happens without one), writes the list file into the
// "temp" directory or the install directory, and for every offset but 0
// starts transform.exe with the list file and the command's token. Lets no
// exception out: a failed list file answers its code, out of memory
// E_OUTOFMEMORY, any other failure E_FAIL.
HRESULT Execute(CommandOffset offset, const ListSource& selection) noexcept;

}  // namespace CommandExecution
