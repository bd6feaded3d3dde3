// IShellExtInit::Initialize: takes the selected paths out of the shell's data
// object and keeps the pictures and directories for the menu and the commands.
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "untMain/DropList.h"
#include "untMain/ImageExtensions.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

namespace {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// One reference on the data object for the length of the call.
class CallReference {
public:
    explicit CallReference(IUnknown* object) : object_(object) {
        if (object_) object_->AddRef();
    }
    ~CallReference() {
        if (object_) object_->Release();
    }
    CallReference(const CallReference&) = delete;
    CallReference& operator=(const CallReference&) = delete;

private:
    IUnknown* object_;
};

// The medium GetData filled: ours to free, on every way out.
class OwnedMedium {
public:
    OwnedMedium() = default;
    ~OwnedMedium() { Release(); }
    OwnedMedium(const OwnedMedium&) = delete;
    OwnedMedium& operator=(const OwnedMedium&) = delete;

    STGMEDIUM* Fill() { return &medium_; }
    void Own() { owned_ = true; }
    void Release() {
        if (owned_) ReleaseStgMedium(&medium_);
        owned_ = false;
    }
    // The drop handle, or null when the medium is not the global memory that
    // was asked for: anything else would be misread as a drop list.
    HGLOBAL DropHandle() const {
        return medium_.tymed == TYMED_HGLOBAL ? medium_.hGlobal : nullptr;
    }

private:
    STGMEDIUM medium_ = {};
    bool owned_ = false;
};

// Conversion to the ANSI code page that says whether characters were lost.
// Best-fit mappings count as lost: a Polish L with stroke made into a plain
// "L" names another file, just as "?" names none.
class LossFreeConverter {
public:
    // False when characters were lost, or when the code page cannot tell (a
    // UTF-8 code page refuses the flag; it loses nothing anyway).
    bool Convert(std::wstring_view wide, bool& lost) {
        lost = false;
        const size_t room = wide.size() * 3;  // enough for any ANSI code page
        if (buffer_.size() < room) buffer_.resize(room);
        BOOL usedDefault = FALSE;
        const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                              static_cast<int>(wide.size()), &buffer_[0],
                                              static_cast<int>(buffer_.size()), nullptr, &usedDefault);
        if (bytes <= 0) return false;
        length_ = static_cast<size_t>(bytes);
        lost = usedDefault != FALSE;
        return true;
    }
    std::string_view Text() const { return std::string_view(buffer_.data(), length_); }

private:
    std::string buffer_;
    size_t length_ = 0;
};

// Builds one selection into a list of its own; nothing here is shared with
// other threads, so several apartments can capture at once.
class SelectionBuilder {
public:
    explicit SelectionBuilder(TStringList& list) : list_(list) {
        // A single-byte code page has no lead bytes: the extension search
        // then needs no call per byte.
        CPINFO info;
        if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1) leadByte_ = nullptr;
    }

    void Take(const DropPath& path) {
        const std::string_view extensionSource = Resolve(path);
        const std::string_view stored(path_, pathLength_);
        if (ImageExtensions::HasAcceptedExtension(extensionSource, leadByte_)) Append(stored);
        const DWORD attributes = GetFileAttributesA(path_);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Append(stored);
        }
    }

    bool Accepted() const { return accepted_; }

private:
    void Append(std::string_view path) {
        list_.Add(path);
        accepted_ = true;
    }

    // Puts the path as it is to be stored into path_ and answers the text
    // whose extension decides.
    std::string_view Resolve(const DropPath& path) {
        bool lost = false;
        if (!path.wide.empty() && longName_.Convert(path.wide, lost) && lost &&
            StoreLossFreeShortForm(path.wide)) {
            // The short form names the same file in characters the code page
            // has, but its extension is cut (".jpeg" becomes ".JPE"): the
            // long name's extension decides, that of the whole name, since
            // the 260-character cut applies to what is stored.
            return longName_.Text();
        }
        // A narrow list, a wide path the code page holds whole, or one with
        // no loss-free form: the bytes the shell has always given, cut to 260.
        // The last case, a foreign name on a volume without short names,
        // therefore keeps its "?" (or best-fit letters) and reaches the
        // converter as a path that names no file, or another one. It is listed
        // when its extension is a picture's, as it always was; a foreign
        // directory is not found behind the "?" and drops out.
        pathLength_ = ShellAnsiText(path, path_);
        return std::string_view(path_, pathLength_);
    }

    bool StoreLossFreeShortForm(std::wstring_view longPath) {
        if (shortPath_.size() < PathBufferSize) shortPath_.resize(PathBufferSize);
        DWORD length = GetShortPathNameW(longPath.data(), &shortPath_[0],
                                         static_cast<DWORD>(shortPath_.size()));
        if (length >= shortPath_.size()) {
            shortPath_.resize(length);
            length = GetShortPathNameW(longPath.data(), &shortPath_[0],
                                       static_cast<DWORD>(shortPath_.size()));
            if (length >= shortPath_.size()) return false;
        }
        if (length == 0) return false;
        bool lost = false;
        if (!shortName_.Convert(std::wstring_view(shortPath_.data(), length), lost) || lost) {
            return false;
        }
        const std::string_view text = shortName_.Text();
        pathLength_ = CutToPathLength(text.data(), text.size());
        text.copy(path_, pathLength_);
        path_[pathLength_] = 0;
        return true;
    }

    TStringList& list_;
    ImageExtensions::LeadByteTest leadByte_ = IsAnsiLeadByte;
    bool accepted_ = false;
    PathBuffer path_ = {};  // per call, not module-wide: apartments run side by side
    size_t pathLength_ = 0;
    LossFreeConverter longName_;
    LossFreeConverter shortName_;
    std::vector<WCHAR> shortPath_;
};

bool CaptureSelection(HGLOBAL dropHandle, TStringList& built) {
    SelectionBuilder builder(built);
    DropList list(dropHandle);
    DropPath path;
    while (list.Next(path)) builder.Take(path);
    return builder.Accepted();
}

// A call that got the data and then failed still replaces the selection: the
// previous one must not live on under a failed call.
HRESULT Abandon(bool dataObtained, HRESULT result) noexcept {
    if (dataObtained) {
        TStringList empty;
        PublishSelection(empty, false);
    }
    return result;
}

}  // namespace

STDMETHODIMP TKontextMenuShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
    const CallReference hold(pdtobj);
    HasSelection.store(false);
    if (!pdtobj) return E_INVALIDARG;
    bool dataObtained = false;
    try {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        OwnedMedium medium;
        const HRESULT fetched = pdtobj->GetData(&format, medium.Fill());
        if (FAILED(fetched)) return fetched;
        medium.Own();
        dataObtained = true;
        // The list is built apart and swapped in whole, so that a thread
        // reading the selection meanwhile sees the old list or the new one.
        TStringList built;
        const HGLOBAL dropHandle = medium.DropHandle();
        const bool accepted = dropHandle && CaptureSelection(dropHandle, built);
        medium.Release();
        // Growth by doubling leaves up to half the list's memory unused
        // for as long as the selection lives.
        built.ShrinkToFit();
        PublishSelection(built, accepted);
        return accepted ? S_OK : E_INVALIDARG;
    } catch (const std::bad_alloc&) {
        return Abandon(dataObtained, E_OUTOFMEMORY);
    } catch (...) {
        return Abandon(dataObtained, E_UNEXPECTED);
    }
}
