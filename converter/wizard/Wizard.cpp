#include "converter/wizard/Wizard.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "converter/base/Com.h"
#include "converter/base/LongPaths.h"
#include "converter/pipeline/Naming.h"
#include "converter/run/Request.h"
#include "converter/run/Sources.h"
#include "converter/base/Texts.h"
#include "converter/wizard/WizardChoices.h"
#include "converter/wizard/WizardIds.h"
#include "converter/wizard/CommonControls.h"
#include "settings/AnsiText.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "untMain/CommandTable.h"

namespace Wizard {

namespace {

constexpr LRESULT KeepFormat = -2;  // item data; CB_ERR is -1
constexpr LRESULT KeepSize = 0;     // item data of the size list; 1 .. 10 are the presets
constexpr LRESULT CustomSize = 100;
// JPEG and many other formats cannot hold a larger side.
constexpr unsigned long MaxSide = 65535;

struct Preset {
    int number, width, height;
};

struct State {
    const std::vector<std::wstring>* paths = nullptr;
    WizardChoices::Choices choices;
    std::vector<Preset> presets;
    Job* job = nullptr;
};

std::wstring Quoted(const std::wstring& text) { return L"\u201e" + text + L"\u201c"; }

// The presets the menu shows, read the way the menu reads them; those without
// a usable size are left out, as the menu leaves them out.
std::vector<Preset> ReadPresets() {
    std::vector<Preset> presets;
    TRegIniFile settings(Settings::KeyPath);
    for (int n = 1; n <= Settings::PresetCount; ++n) {
        int32_t width = 0, height = 0;
        if (Request::ReadPresetSize(settings, n, width, height) && width > 0 && height > 0)
            presets.push_back({n, width, height});
    }
    return presets;
}

std::wstring SelectionText(const std::vector<std::wstring>& paths) {
    size_t pictures = 0, folders = 0;
    for (const std::wstring& path : paths) {
        const DWORD attributes = GetFileAttributesW(LongPaths::ForApi(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            ++folders;
        else
            ++pictures;
    }
    std::wstring text = L"Ausgew\u00e4hlt: ";
    if (pictures) text += std::to_wstring(pictures) + (pictures == 1 ? L" Bild" : L" Bilder");
    if (pictures && folders) text += L" und ";
    if (folders) text += std::to_wstring(folders) + L" Ordner (mit Unterordnern)";
    return text + L".";
}

// The writers that store their pixels as JPEG use the quality, and so does
// lossy WebP; keeping the format may keep JPEG.
bool UsesQuality(const FormatInfo* format) {
    return !format || format->token == "TOJPG" || format->token == "TOPS" || format->token == "TOPDF" ||
           format->token == "TOWEBP";
}

const FormatInfo* FormatAt(LRESULT data) {
    const std::vector<FormatInfo>& all = Formats::All();
    return data >= 0 && static_cast<size_t>(data) < all.size() ? &all[static_cast<size_t>(data)] : nullptr;
}

LRESULT SelectedData(HWND dialog, int id) {
    const LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? CB_ERR : SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, index, 0);
}

void SelectData(HWND dialog, int id, LRESULT data) {
    const LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, i, 0) == data) {
            SendDlgItemMessageW(dialog, id, CB_SETCURSEL, i, 0);
            return;
        }
}

void AddItem(HWND dialog, int id, const std::wstring& text, LRESULT data) {
    const LRESULT index = SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index >= 0) SendDlgItemMessageW(dialog, id, CB_SETITEMDATA, index, data);
}

std::wstring ItemText(HWND dialog, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetDlgItemTextW(dialog, id, &text[0], length + 1)));
    return text;
}

std::wstring Trimmed(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// "die Breite" at the start of a sentence.
std::wstring Capitalized(const wchar_t* what) {
    std::wstring text = what;
    if (!text.empty()) text[0] = static_cast<wchar_t>(towupper(text[0]));
    return text;
}

// The field's whole number from `low` to `high`, or the reason it is none.
bool ReadNumber(HWND dialog, int id, const wchar_t* what, unsigned long low, unsigned long high,
                unsigned long& value, std::wstring& problem) {
    const std::wstring text = Trimmed(ItemText(dialog, id));
    if (text.empty()) {
        problem = std::wstring(L"Bitte geben Sie ") + what + L" an.";
        return false;
    }
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            problem = Capitalized(what) + L" " + Quoted(text) + L" ist keine Zahl. Bitte geben Sie nur Ziffern ein.";
            return false;
        }
        if (value <= high) value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (value < low || value > high) {
        problem = Capitalized(what) + L" muss zwischen " + std::to_wstring(low) + L" und " + std::to_wstring(high) +
                  L" liegen.";
        return false;
    }
    return true;
}

// The folder as a full path without a trailing backslash, checked to exist and
// to take a new file; or the reason it cannot be used.
bool UsableFolder(const std::wstring& typed, std::wstring& folder, std::wstring& problem) {
    const std::wstring text = Trimmed(typed);
    if (text.empty()) {
        problem = L"Bitte w\u00e4hlen Sie den Ordner f\u00fcr die Ergebnisse.";
        return false;
    }
    const bool drive = text.size() >= 3 && iswalpha(text[0]) && text[1] == L':' && (text[2] == L'\\' || text[2] == L'/');
    const bool share = text.size() >= 3 && (text[0] == L'\\' || text[0] == L'/') && (text[1] == L'\\' || text[1] == L'/');
    if (!drive && !share) {
        problem = L"Bitte geben Sie den vollst\u00e4ndigen Pfad des Ordners an, zum Beispiel C:\\Bilder.";
        return false;
    }
    wchar_t full[32768];
    const DWORD length = GetFullPathNameW(text.c_str(), 32768, full, nullptr);
    if (length == 0 || length >= 32768) {
        problem = L"Der Pfad " + Quoted(text) + L" ist ung\u00fcltig.";
        return false;
    }
    folder.assign(full, length);
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    const DWORD attributes = GetFileAttributesW(LongPaths::ForApi(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        problem = L"Den Ordner " + Quoted(folder) + L" gibt es nicht.";
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = Quoted(folder) + L" ist kein Ordner.";
        return false;
    }
    if (folder.back() == L'\\') folder.pop_back();  // "C:\" -> "C:", as results are named folder + "\" + name
    // Only a real new file shows whether the folder takes one; it goes again
    // when closed.
    const std::wstring probe = folder + L"\\~quennel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount()) + L".tmp";
    const HANDLE file = CreateFileW(LongPaths::ForApi(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = L"In den Ordner " + Quoted(folder.size() == 2 ? folder + L"\\" : folder) +
                  L" kann nicht geschrieben werden. " + Texts::ReasonForError(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED && start) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}

// The platform's folder picker: the item dialog, or the older folder browser
// where that cannot be shown. False when the user cancels.
bool PickFolder(HWND owner, std::wstring& folder) {
    const wchar_t* const title = L"Ordner f\u00fcr die Ergebnisse w\u00e4hlen";
    ComPtr<IFileOpenDialog> dialog;
    HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  reinterpret_cast<void**>(dialog.Put()));
    if (SUCCEEDED(hr)) {
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
        dialog->SetTitle(title);
        if (!folder.empty()) {
            ComPtr<IShellItem> start;
            if (SUCCEEDED(SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem,
                                                      reinterpret_cast<void**>(start.Put()))))
                dialog->SetFolder(start.Get());
        }
        hr = dialog->Show(owner);
        if (hr == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return false;
        ComPtr<IShellItem> chosen;
        if (SUCCEEDED(hr)) hr = dialog->GetResult(chosen.Put());
        PWSTR path = nullptr;
        if (SUCCEEDED(hr)) hr = chosen->GetDisplayName(SIGDN_FILESYSPATH, &path);
        if (SUCCEEDED(hr) && path) {
            folder = path;
            CoTaskMemFree(path);
            return true;
        }
    }
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = folder.empty() ? 0 : reinterpret_cast<LPARAM>(folder.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return false;
    wchar_t path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (ok) folder = path;
    return ok;
}

void UpdateEnabling(HWND dialog) {
    const LRESULT format = SelectedData(dialog, IDC_WIZARD_FORMAT);
    const bool quality = UsesQuality(format == KeepFormat ? nullptr : FormatAt(format));
    for (int id : {IDC_WIZARD_QUALITY_LABEL, IDC_WIZARD_QUALITY, IDC_WIZARD_QUALITY_SPIN, IDC_WIZARD_QUALITY_NOTE})
        EnableWindow(GetDlgItem(dialog, id), quality);
    const LRESULT size = SelectedData(dialog, IDC_WIZARD_SIZE);
    for (int id : {IDC_WIZARD_WIDTH_LABEL, IDC_WIZARD_WIDTH, IDC_WIZARD_HEIGHT_LABEL, IDC_WIZARD_HEIGHT,
                   IDC_WIZARD_PIXEL_LABEL})
        EnableWindow(GetDlgItem(dialog, id), size == CustomSize);
    EnableWindow(GetDlgItem(dialog, IDC_WIZARD_NO_ENLARGE), size != KeepSize);
    const bool intoFolder = IsDlgButtonChecked(dialog, IDC_WIZARD_INTO_FOLDER) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_WIZARD_FOLDER), intoFolder);
    EnableWindow(GetDlgItem(dialog, IDC_WIZARD_BROWSE), intoFolder);
}

void Fill(HWND dialog, State& state) {
    const WizardChoices::Choices& choices = state.choices;
    SetDlgItemTextW(dialog, IDC_WIZARD_SELECTION, SelectionText(*state.paths).c_str());

    // Every format of the table; one this build cannot write says so and is
    // refused on OK.
    AddItem(dialog, IDC_WIZARD_FORMAT, L"Format beibehalten", KeepFormat);
    const std::vector<FormatInfo>& formats = Formats::All();
    LRESULT chosenFormat = choices.format.empty() ? KeepFormat : CB_ERR;
    for (size_t i = 0; i < formats.size(); ++i) {
        std::wstring text = std::wstring(formats[i].name) + L" (" + formats[i].extension + L")";
        if (!formats[i].encode) text += L" \u2013 in dieser Version nicht verf\u00fcgbar";
        AddItem(dialog, IDC_WIZARD_FORMAT, text, static_cast<LRESULT>(i));
        if (formats[i].token == choices.format) chosenFormat = static_cast<LRESULT>(i);
    }
    if (chosenFormat == CB_ERR) chosenFormat = 0;
    SelectData(dialog, IDC_WIZARD_FORMAT, chosenFormat);
    SendDlgItemMessageW(dialog, IDC_WIZARD_QUALITY_SPIN, UDM_SETRANGE32, 1, 100);
    SendDlgItemMessageW(dialog, IDC_WIZARD_QUALITY_SPIN, UDM_SETPOS32, 0, choices.quality);
    SendDlgItemMessageW(dialog, IDC_WIZARD_QUALITY, EM_LIMITTEXT, 3, 0);

    AddItem(dialog, IDC_WIZARD_SIZE, L"Gr\u00f6\u00dfe beibehalten", KeepSize);
    LRESULT chosenSize = KeepSize;
    for (const Preset& preset : state.presets) {
        AddItem(dialog, IDC_WIZARD_SIZE, AnsiText::Widen(CommandTable::PresetCaption(preset.width, preset.height), 1252),
                preset.number);
        if (choices.size == "RS_" + std::to_string(preset.number)) chosenSize = preset.number;
    }
    AddItem(dialog, IDC_WIZARD_SIZE, L"eigene Gr\u00f6\u00dfe", CustomSize);
    if (choices.size == WizardChoices::CustomSize) chosenSize = CustomSize;
    SelectData(dialog, IDC_WIZARD_SIZE, chosenSize);
    SetDlgItemTextW(dialog, IDC_WIZARD_WIDTH, choices.width.c_str());
    SetDlgItemTextW(dialog, IDC_WIZARD_HEIGHT, choices.height.c_str());
    SendDlgItemMessageW(dialog, IDC_WIZARD_WIDTH, EM_LIMITTEXT, 6, 0);
    SendDlgItemMessageW(dialog, IDC_WIZARD_HEIGHT, EM_LIMITTEXT, 6, 0);
    CheckDlgButton(dialog, IDC_WIZARD_NO_ENLARGE, choices.noEnlarge ? BST_CHECKED : BST_UNCHECKED);

    CheckRadioButton(dialog, IDC_WIZARD_BESIDE, IDC_WIZARD_INTO_FOLDER,
                     choices.intoFolder ? IDC_WIZARD_INTO_FOLDER : IDC_WIZARD_BESIDE);
    SetDlgItemTextW(dialog, IDC_WIZARD_FOLDER, choices.folder.c_str());
    SetDlgItemTextW(dialog, IDC_WIZARD_PROBLEM, L"");
    UpdateEnabling(dialog);
}

void Refuse(HWND dialog, int field, const std::wstring& problem) {
    SetDlgItemTextW(dialog, IDC_WIZARD_PROBLEM, problem.c_str());
    MessageBeep(MB_ICONWARNING);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, field)), TRUE);
}

// Checks every field; on success fills the job and the choices to remember.
bool Accept(HWND dialog, State& state) {
    WizardChoices::Choices choices = state.choices;
    Job job;
    std::wstring problem;

    const LRESULT formatData = SelectedData(dialog, IDC_WIZARD_FORMAT);
    const FormatInfo* format = FormatAt(formatData);
    if (formatData != KeepFormat && !format) {
        Refuse(dialog, IDC_WIZARD_FORMAT, L"Bitte w\u00e4hlen Sie ein Format.");
        return false;
    }
    if (format && !format->encode) {
        Refuse(dialog, IDC_WIZARD_FORMAT,
               L"In das " + std::wstring(format->name) + L" Format kann in dieser Version nicht umgewandelt werden. "
               L"Bitte w\u00e4hlen Sie ein anderes Format.");
        return false;
    }
    job.format = format;
    choices.format = format ? std::string(format->token) : std::string();

    if (UsesQuality(format)) {
        unsigned long quality = 0;
        if (!ReadNumber(dialog, IDC_WIZARD_QUALITY, L"die JPEG-Qualit\u00e4t", 1, 100, quality, problem)) {
            Refuse(dialog, IDC_WIZARD_QUALITY, problem);
            return false;
        }
        choices.quality = static_cast<int>(quality);
    }
    job.jpegQuality = choices.quality;

    const LRESULT sizeData = SelectedData(dialog, IDC_WIZARD_SIZE);
    choices.noEnlarge = IsDlgButtonChecked(dialog, IDC_WIZARD_NO_ENLARGE) == BST_CHECKED;
    unsigned long width = 0, height = 0;
    if (sizeData == CustomSize) {
        if (!ReadNumber(dialog, IDC_WIZARD_WIDTH, L"die Breite", 1, MaxSide, width, problem)) {
            Refuse(dialog, IDC_WIZARD_WIDTH, problem);
            return false;
        }
        if (!ReadNumber(dialog, IDC_WIZARD_HEIGHT, L"die H\u00f6he", 1, MaxSide, height, problem)) {
            Refuse(dialog, IDC_WIZARD_HEIGHT, problem);
            return false;
        }
        choices.size = WizardChoices::CustomSize;
        choices.width = std::to_wstring(width);
        choices.height = std::to_wstring(height);
    } else if (sizeData > KeepSize && sizeData <= Settings::PresetCount) {
        for (const Preset& preset : state.presets)
            if (preset.number == sizeData) {
                width = static_cast<unsigned long>(preset.width);
                height = static_cast<unsigned long>(preset.height);
            }
        choices.size = "RS_" + std::to_string(sizeData);
    } else {
        choices.size.clear();
    }
    if (width && height) {
        job.box = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
        job.tag = Naming::SizeTag(static_cast<int>(width), static_cast<int>(height));
        job.enlarge = !choices.noEnlarge;
    }

    choices.intoFolder = IsDlgButtonChecked(dialog, IDC_WIZARD_INTO_FOLDER) == BST_CHECKED;
    const std::wstring typedFolder = Trimmed(ItemText(dialog, IDC_WIZARD_FOLDER));
    if (choices.intoFolder) {
        if (!UsableFolder(typedFolder, job.folder, problem)) {
            Refuse(dialog, IDC_WIZARD_FOLDER, problem);
            return false;
        }
    }
    if (!typedFolder.empty()) choices.folder = typedFolder;

    state.choices = choices;
    *state.job = job;
    return true;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        Fill(dialog, *reinterpret_cast<State*>(lParam));
        SetForegroundWindow(dialog);
        return TRUE;  // the focus goes to the first field
    case WM_COMMAND: {
        if (!state) return FALSE;
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        switch (id) {
        case IDOK:
            if (Accept(dialog, *state)) EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_WIZARD_BROWSE: {
            std::wstring folder = Trimmed(ItemText(dialog, IDC_WIZARD_FOLDER));
            if (PickFolder(dialog, folder)) {
                SetDlgItemTextW(dialog, IDC_WIZARD_FOLDER, folder.c_str());
                SetDlgItemTextW(dialog, IDC_WIZARD_PROBLEM, L"");
            }
            return TRUE;
        }
        default:
            break;
        }
        // Any change makes an old refusal stale.
        if (code == CBN_SELCHANGE || code == BN_CLICKED || code == EN_CHANGE) {
            if (code != EN_CHANGE) UpdateEnabling(dialog);
            SetDlgItemTextW(dialog, IDC_WIZARD_PROBLEM, L"");
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

Answer Choose(const std::vector<std::wstring>& paths, Job& job) {
    CommonControls::Init(ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS);
    // The folder pickers are COM objects of the shell that want an apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    State state;
    state.paths = &paths;
    state.choices = WizardChoices::Load();
    state.presets = ReadPresets();
    state.job = &job;
    // The modal loop runs the dialog manager's keyboard handling (tab,
    // mnemonics, Enter, Escape) for every message.
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WIZARD), nullptr,
                                           DialogProc, reinterpret_cast<LPARAM>(&state));
    if (SUCCEEDED(com)) CoUninitialize();
    if (result == IDOK) {
        WizardChoices::Save(state.choices);  // a choice not kept is no reason to stop
        return Answer::Start;
    }
    return result == IDCANCEL ? Answer::Cancelled : Answer::NoDialog;
}

}  // namespace Wizard
