// Carrying out a chosen command, for either menu: the list file and the start
// of the suite's converter. The extension does no image work.
#include "untMain/CommandExecution.h"

#include <shellapi.h>

#include <new>

#include "resources/Messages.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "untMain/CommandTable.h"
#include "untMain/ListFile.h"

namespace CommandExecution {

namespace {

constexpr char TempVariable[] = "temp";  // names compare without case: TEMP

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() { CloseHandle(handle); }
};

// The path as GetFullPathNameA completes it; the path itself when it cannot.
std::string FullPathOf(const std::string& path) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

std::string SystemMessage(DWORD code) {
    char buffer[1024];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, buffer, sizeof buffer, nullptr);
    return ListFile::TrimMessageTail(std::string_view(buffer, length));
}

}  // namespace

std::string TempValue() {
    // The first call tells the size with its zero. Should another thread
    // change the variable between the two calls, the second call reports a
    // new size instead of filling the buffer, and the pair is repeated.
    DWORD needed = GetEnvironmentVariableA(TempVariable, nullptr, 0);
    for (int round = 0; round < 8 && needed != 0; ++round) {
        std::string value(needed, '\0');
        const DWORD length = GetEnvironmentVariableA(TempVariable, &value[0], needed);
        if (length < needed) {
            value.resize(length);
            return value;
        }
        needed = length;
    }
    return std::string();
}

void SaveListFile(const std::string& path, const std::string& text) {
    // No Windows path is longer than 32,767 characters. Some platforms cut an
    // over-long 8-bit path instead of refusing it, and the list would land in
    // some other file: refuse it here.
    constexpr size_t kLongestPath = 32767;
    if (path.size() > kLongestPath) {
        throw ListFileCreateError(
            Messages::Format(Messages::CannotCreateFile, path, SystemMessage(ERROR_FILENAME_EXCED_RANGE)),
            HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    }
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();  // before any further call resets it
        throw ListFileCreateError(
            Messages::Format(Messages::CannotCreateFile, FullPathOf(path), SystemMessage(code)),
            code != ERROR_SUCCESS ? HRESULT_FROM_WIN32(code) : E_FAIL);
    }
    const HandleCloser closer{file};
    if (text.empty()) return;

    // One write of the whole text; a text beyond 4 GB cannot be written in
    // one and counts as a short write.
    const DWORD size = text.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(file, text.data(), size, &written, nullptr)) {
        const DWORD code = GetLastError();
        throw ListFileWriteError(Messages::StreamWriteError,
                                 code != ERROR_SUCCESS ? HRESULT_FROM_WIN32(code) : STG_E_WRITEFAULT);
    }
    if (written != text.size()) throw ListFileWriteError(Messages::StreamWriteError, STG_E_WRITEFAULT);
}

namespace {

std::string ReadInstallDirSetting() {
    TRegIniFile reader(Settings::KeyPath);
    return reader.ReadText(Settings::Section, Settings::InstallDirValue, std::string());
}

// Steps from the settings read on, for an offset already known to be valid.
HRESULT Carry(CommandOffset offset, const ListSource& selection) {
    const std::string setting = ReadInstallDirSetting();  // reader released here
    if (setting.empty()) return S_OK;

    const std::string installDir = ListFile::WithTrailingBackslash(setting, ListFile::IsAnsiLeadByte);
    const std::string listPath = ListFile::ListFilePath(TempValue(), installDir, ListFile::IsAnsiLeadByte);
    SaveListFile(listPath, selection.Text());

    if (offset == 0) return S_OK;  // the submenu entry itself starts nothing
    const std::string file = ListFile::ConverterPath(installDir);
    const std::string parameters =
        ListFile::ConverterParameters(listPath, CommandTable::ConverterTokenOf(offset));
    // The converter runs on its own; whether it could be started is not ours
    // to report, so the result is not examined.
    ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(), nullptr, SW_SHOWDEFAULT);
    return S_OK;
}

}  // namespace

// A failure leaves the converter unstarted and is answered by its code;
// nothing is shown, so the message the failure carries ends here.
HRESULT Execute(CommandOffset offset, const ListSource& selection) noexcept {
    if (offset >= CommandCount) return E_INVALIDARG;
    try {
        return Carry(offset, selection);
    } catch (const ListFileCreateError& e) {
        return e.Result();
    } catch (const ListFileWriteError& e) {
        return e.Result();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;  // the settings read (ERegistryException) and anything else
    }
}

}  // namespace CommandExecution
