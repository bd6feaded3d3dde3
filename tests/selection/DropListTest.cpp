// The one-pass drop-list reader against the platform's own DragQueryFileA:
// for every index the same 8-bit text, cut the same way, in the same order.
#include "selection/SelectionFixture.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "untMain/DropList.h"
#include "untMain/ImageExtensions.h"
#include "untMain/ModuleState.h"

namespace {

// Each path and its zero, then one more zero; an empty list is the double
// zero alone.
std::string NarrowListBytes(const std::vector<std::string>& paths) {
    std::string bytes;
    for (const auto& p : paths) bytes += p + '\0';
    if (paths.empty()) bytes += '\0';
    return bytes + '\0';
}

std::string WideListBytes(const std::vector<std::wstring>& paths) {
    std::wstring units;
    for (const auto& p : paths) units += p + L'\0';
    if (paths.empty()) units += L'\0';
    units += L'\0';
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(wchar_t));
}

// A CF_HDROP block whose paths start at `offset`; the gap after the header is
// filled with non-zero bytes.
HGLOBAL Block(const std::string& list, BOOL wide, DWORD offset) {
    const size_t size = std::max<size_t>(offset + list.size(), sizeof(DROPFILES));
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    std::memset(bytes, 'P', size);
    DROPFILES header = {};
    header.pFiles = offset;
    header.fWide = wide;
    std::memcpy(bytes, &header, sizeof header);
    if (offset < size) std::memcpy(bytes + offset, list.data(), std::min<size_t>(list.size(), size - offset));
    GlobalUnlock(block);
    return block;
}

// Points the header's pFiles somewhere else.
HGLOBAL Repoint(HGLOBAL block, DWORD offset) {
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = offset;
    GlobalUnlock(block);
    return block;
}

std::vector<std::string> ReadWithDropList(HGLOBAL block) {
    std::vector<std::string> paths;
    DropList list(block);
    DropPath path;
    PathBuffer buffer;
    while (list.Next(path)) {
        const size_t length = ShellAnsiText(path, buffer);
        EXPECT_EQ(length, strnlen(buffer, sizeof buffer));
        paths.emplace_back(buffer, length);
    }
    return paths;
}

// Compares the reader with DragQueryFileA on one block, then Initialize's
// list with what reading it index by index with DragQueryFileA keeps: each
// path with a picture's extension, and again each directory.
void ExpectSameAsShell(HGLOBAL block, const std::string& what) {
    SCOPED_TRACE(what);
    const std::vector<std::string> shell = DragQueryAll(static_cast<HDROP>(block));
    const std::vector<std::string> read = ReadWithDropList(block);
    if (read.empty() && shell.size() == 1 && shell[0].empty()) {
        // Wine's count for an empty list; Windows counts none.
    } else {
        ASSERT_EQ(shell.size(), read.size());
        for (size_t i = 0; i < shell.size(); ++i) {
            ASSERT_EQ(shell[i], read[i]) << "index " << i;
        }
    }
    std::vector<std::string> kept;
    for (const auto& p : shell) {
        if (ImageExtensions::HasAcceptedExtension(p, nullptr)) kept.push_back(p);
        const DWORD attributes = GetFileAttributesA(p.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kept.push_back(p);
        }
    }
    DropDataObject data(block);  // takes the block over
    const HRESULT hr = CaptureInProcess(&data);
    EXPECT_EQ(kept.empty() ? E_INVALIDARG : S_OK, hr);
    // Generated paths may hold CR LF themselves: compare the list's bytes.
    EXPECT_EQ(ListText(kept), SelectionList->Text());
    EXPECT_EQ(kept.size(), SelectionList->Count());
}

std::string Fill(size_t length, char c) { return std::string(length, c); }

std::wstring Repeat(const std::wstring& piece, size_t units) {
    std::wstring text;
    while (text.size() < units) text += piece;
    text.resize(units);
    return text;
}

const DWORD kOffsets[] = {sizeof(DROPFILES), sizeof(DROPFILES) + 1, sizeof(DROPFILES) + 3,
                          sizeof(DROPFILES) + 8, 101};

using DropListAgainstShell = InProcessTest;

}  // namespace

TEST_F(DropListAgainstShell, NarrowLists) {
    ASSERT_EQ(1252u, GetACP()) << "the expectations are written for code page 1252";
    const std::vector<std::vector<std::string>> lists = {
        {},
        {"C:\\Bilder\\Foto.jpg"},
        {"C:\\a.jpg", "", "C:\\after-the-end.jpg"},  // an empty name ends the list
        {"C:\\" + Fill(251, 'a') + ".jpg", "C:\\" + Fill(252, 'b') + ".jpg",
         "C:\\" + Fill(253, 'c') + ".jpg", "C:\\" + Fill(992, 'd') + ".jpg"},  // 259/260/261/1000
        {"C:\\" + Fill(252, 'e') + "\\.png" + Fill(30, 'f')},
        {"C:\\\xE4\xF6\xFC\xDF\xE9\x80\x81\x8D\x9F\xFF.png", "C:\\?\\*.gif", "\x01\x7F.bmp"},
        {"x", "y.JPG", "z.txt", "y.JPG"},
    };
    for (DWORD offset : kOffsets) {
        for (size_t i = 0; i < lists.size(); ++i) {
            ExpectSameAsShell(Block(NarrowListBytes(lists[i]), FALSE, offset),
                              "narrow list " + std::to_string(i) + " at " + std::to_string(offset));
        }
    }
}

TEST_F(DropListAgainstShell, WideLists) {
    ASSERT_EQ(1252u, GetACP());
    const std::wstring japanese = L"\u6771\u4EAC";          // Tokyo
    const std::wstring greek = L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1";
    const std::wstring polish = L"\u0141\u00F3d\u017A";    // best-fit candidates
    const std::wstring emoji = L"\U0001F600";              // a surrogate pair
    const std::vector<std::vector<std::wstring>> lists = {
        {},
        {L"C:\\Bilder\\Foto.jpg"},
        {L"C:\\a.jpg", L"", L"C:\\after-the-end.jpg"},
        {L"C:\\" + Repeat(L"a", 251) + L".jpg", L"C:\\" + Repeat(L"b", 252) + L".jpg",
         L"C:\\" + Repeat(L"c", 253) + L".jpg", L"C:\\" + Repeat(L"d", 992) + L".jpg"},
        {L"C:\\Bilder\\" + japanese + L".jpg", L"C:\\" + greek + L"\\strand.png",
         L"C:\\" + polish + L".tif", L"C:\\" + emoji + L".gif",
         L"C:\\\u00E4\u00F6\u00FC\u00DF\u00E9\u20AC\u2013.png"},
        {L"C:\\\xD800 lone high.jpg", L"C:\\\xDC00 lone low.jpg", L"C:\\\u0100\u0107\u2260.bmp"},
        // A surrogate pair cut in two by the 260-character cut, and foreign
        // names of every length around it.
        {L"C:\\" + Repeat(L"s", 256) + emoji + L".jpg", L"C:\\" + Repeat(japanese, 255) + L".jpg",
         L"C:\\" + Repeat(greek, 256) + L".jpg", L"C:\\" + Repeat(polish, 996) + L".jpg"},
    };
    for (DWORD offset : kOffsets) {
        for (size_t i = 0; i < lists.size(); ++i) {
            ExpectSameAsShell(Block(WideListBytes(lists[i]), TRUE, offset),
                              "wide list " + std::to_string(i) + " at " + std::to_string(offset));
        }
    }
}

TEST_F(DropListAgainstShell, GeneratedLists) {
    ASSERT_EQ(1252u, GetACP());
    std::mt19937 random(20240607);
    const std::wstring pool =
        L"abcXYZ019 _-.\\:.jpgJPEGpng.\u00E4\u00DF\u00E9\u0141\u017A\u6771\u4EAC\u03A9\u0416\xD83D\xDE00";
    const char* const extensions[] = {".jpg", ".PNG", ".txt", ".tiff", "", ".jpeg.bak", "."};
    for (int round = 0; round < 12; ++round) {
        std::vector<std::wstring> wide;
        std::vector<std::string> narrow;
        const int count = 1 + static_cast<int>(random() % 150);
        for (int i = 0; i < count; ++i) {
            std::wstring name = L"C:\\";
            const size_t length = random() % 300;
            for (size_t k = 0; k < length; ++k) name += pool[random() % pool.size()];
            name += Widen(extensions[random() % 7]);
            wide.push_back(name);
            std::string bytes = "C:\\";
            for (size_t k = 0; k < length; ++k) bytes += static_cast<char>(1 + random() % 255);
            narrow.push_back(bytes + extensions[random() % 7]);
        }
        const DWORD offset = kOffsets[round % 5];
        ExpectSameAsShell(Block(WideListBytes(wide), TRUE, offset), "generated wide " + std::to_string(round));
        ExpectSameAsShell(Block(NarrowListBytes(narrow), FALSE, offset),
                          "generated narrow " + std::to_string(round));
    }
}

// Blocks no shell makes, where DragQueryFileA would read beyond the block:
// the reader stops at its end.
TEST_F(DropListAgainstShell, MalformedBlocksAreNeverOverRead) {
    auto read = [](HGLOBAL block) {
        const auto paths = ReadWithDropList(block);
        GlobalFree(block);
        return paths;
    };
    using Paths = std::vector<std::string>;
    // Shorter than the header.
    HGLOBAL tiny = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
    EXPECT_EQ(Paths{}, read(tiny));
    EXPECT_EQ(Paths{}, read(nullptr));
    // pFiles beyond the block.
    const std::string one = NarrowListBytes({"C:\\a.jpg"});
    EXPECT_EQ(Paths{}, read(Repoint(Block(one, FALSE, sizeof(DROPFILES)), sizeof(DROPFILES) + one.size())));
    EXPECT_EQ(Paths{}, read(Repoint(Block(one, FALSE, sizeof(DROPFILES)), 0xFFFFFFF0)));
    // The last path without its zero: only the complete ones count.
    for (BOOL wide : {FALSE, TRUE}) {
        std::string bytes = wide ? WideListBytes({L"C:\\a.jpg", L"C:\\b.jpg"})
                                 : NarrowListBytes({"C:\\a.jpg", "C:\\b.jpg"});
        bytes.resize(bytes.size() - (wide ? 4 : 2));  // both final zeros gone
        // Grown with non-zero bytes, then shrunk: what lies past the block's
        // size is no zero, so a reader that went on would run into it.
        HGLOBAL block = Block(bytes + std::string(256, 'x'), wide, sizeof(DROPFILES));
        block = GlobalReAlloc(block, sizeof(DROPFILES) + bytes.size(), GMEM_MOVEABLE);
        ASSERT_TRUE(block);
        EXPECT_EQ(Paths({"C:\\a.jpg"}), read(block)) << (wide ? "wide" : "narrow");
    }
    // A wide block ending in half a character.
    std::string odd = WideListBytes({L"C:\\a.jpg"});
    odd.resize(odd.size() - 3);
    EXPECT_EQ(Paths{}, read(Block(odd, TRUE, sizeof(DROPFILES))));

    // Handed to Initialize, such a block answers like any other.
    DropDataObject data(Repoint(Block(one, FALSE, sizeof(DROPFILES)), 4000));
    EXPECT_EQ(E_INVALIDARG, CaptureInProcess(&data));
    EXPECT_EQ(0, data.OutstandingMedia());
}
