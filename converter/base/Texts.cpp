#include "converter/base/Texts.h"

#include <wincodec.h>

namespace Texts {

std::wstring ReasonForError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return L"Die Datei wurde nicht gefunden.";
    case ERROR_ACCESS_DENIED:
        return L"Der Zugriff wurde verweigert.";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return L"Die Datei wird von einem anderen Programm verwendet.";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return L"Auf dem Datentr\u00e4ger ist nicht gen\u00fcgend Speicherplatz.";
    case ERROR_WRITE_PROTECT:
        return L"Der Datentr\u00e4ger ist schreibgesch\u00fctzt.";
    case ERROR_FILENAME_EXCED_RANGE:
        return L"Der Pfad ist zu lang.";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return L"Nicht gen\u00fcgend Arbeitsspeicher.";
    case ERROR_FILE_TOO_LARGE:
        return L"Das Bild ist zu gro\u00df.";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return L"Es gibt keinen freien Namen f\u00fcr das Ergebnis.";
    default:
        return L"Die Datei kann nicht gelesen oder geschrieben werden (Fehler " + std::to_wstring(error) + L").";
    }
}

std::wstring ReasonForResult(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return ReasonForError(HRESULT_CODE(hr));
    switch (hr) {
    case E_OUTOFMEMORY:
        return ReasonForError(ERROR_OUTOFMEMORY);
    case WINCODEC_ERR_COMPONENTNOTFOUND:
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
        return L"Die Datei ist keine Grafik in einem bekannten Format.";
    case WINCODEC_ERR_BADHEADER:
    case WINCODEC_ERR_BADIMAGE:
    case WINCODEC_ERR_BADSTREAMDATA:
    case WINCODEC_ERR_STREAMREAD:
    case WINCODEC_ERR_STREAMNOTAVAILABLE:
    case WINCODEC_ERR_FRAMEMISSING:
    case WINCODEC_ERR_UNSUPPORTEDOPERATION:
    case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT:
    case WINCODEC_ERR_UNSUPPORTEDVERSION:
    case E_FAIL:
        return L"Die Grafik ist besch\u00e4digt, unvollst\u00e4ndig oder wird nicht unterst\u00fctzt.";
    default: {
        wchar_t code[16];
        wsprintfW(code, L"%08lX", static_cast<unsigned long>(hr));
        return L"Die Grafik kann nicht umgewandelt werden (Fehler 0x" + std::wstring(code) + L").";
    }
    }
}

std::wstring ReasonForRead(ReadStatus status, const wchar_t* kind) {
    const std::wstring as = kind ? L" (" + std::wstring(kind) + L")" : std::wstring();
    switch (status) {
    case ReadStatus::Ok:
        return {};
    case ReadStatus::NotThisFormat:
        return ReasonForResult(WINCODEC_ERR_COMPONENTNOTFOUND);
    case ReadStatus::Damaged:
        return L"Die Grafik" + as + L" ist besch\u00e4digt oder unvollst\u00e4ndig.";
    case ReadStatus::Unsupported:
        return L"Diese Art der Grafik" + as + L" wird nicht unterst\u00fctzt.";
    case ReadStatus::TooLarge:
        return ReasonForError(ERROR_FILE_TOO_LARGE);
    case ReadStatus::OutOfMemory:
        return ReasonForError(ERROR_OUTOFMEMORY);
    case ReadStatus::NoPicture:
        return L"Die Datei" + as + L" enth\u00e4lt kein Bild.";
    }
    return ReasonForResult(E_FAIL);
}

}  // namespace Texts
