// Which of the selected paths the menu accepts, and in which 8-bit form they
// reach the converter: the rules both menus apply, the classic one to the
// shell's drop list and the Windows 11 one to the items of its selection.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "untMain/DropList.h"
#include "untMain/ImageExtensions.h"
#include "untMain/StringList.h"

namespace SelectionRules {

inline bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace SelectionRules

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
    ImageExtensions::LeadByteTest leadByte_ = SelectionRules::IsAnsiLeadByte;
    bool accepted_ = false;
    PathBuffer path_ = {};  // per call, not module-wide: apartments run side by side
    size_t pathLength_ = 0;
    LossFreeConverter longName_;
    LossFreeConverter shortName_;
    std::vector<WCHAR> shortPath_;
};
