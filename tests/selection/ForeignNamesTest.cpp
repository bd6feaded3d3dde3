// Files and folders whose names the ANSI code page (1252) cannot write,
// selected through the shell's own data object: each listed path still opens
// the very item that was selected.
#include "selection/SelectionFixture.h"

#include "support/ImportPatch.h"
#include "untMain/ModuleState.h"

namespace {

struct Item {
    std::wstring name;
    bool directory;
    int times;        // how often it is listed: 0 refused, 2 a directory named as a picture
    bool inCodePage;  // its long name is listed byte for byte
};

const std::vector<Item> kItems = {
    {L"\u6771\u4EAC.jpg", false, 1, false},                                  // Tokyo
    {L"\u0141\u00F3d\u017A.tif", false, 1, false},                           // Lodz, best-fit bait
    {L"\u041C\u043E\u0441\u043A\u0432\u0430.png", false, 1, false},          // Moscow
    {L"\U0001F600 Sonne.gif", false, 1, false},                              // emoji: a surrogate pair
    {L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1.jpeg", false, 1, false},         // short name: ".JPE"
    {L"\u0141\u00F3d\u017A.wbmp", false, 1, false},                          // short name: ".WBM"
    {L"\u0424\u043E\u0442\u043E.jpg", true, 2, false},                       // a folder named as a picture
    {L"\u6771\u4EAC.txt", false, 0, false},                                  // not a picture
    {L"\u0424\u043E\u0442\u043E", true, 1, false},                           // a plain folder
    {L"\u00C4\u00F6\u00FC\u00DF\u00E9 \u00C9t\u00E9.jpg", false, 1, true},  // inside code page 1252
    {L"Zo\u00EB", true, 1, true},
};

using ForeignNames = InProcessTest;

class ForeignSelection {
public:
    ForeignSelection() {
        for (const Item& item : kItems) {
            paths_.push_back(item.directory ? folder_.MakeDirectory(item.name) : folder_.MakeFile(item.name));
        }
    }
    const ScratchFolder& Folder() const { return folder_; }
    const std::vector<std::wstring>& Paths() const { return paths_; }

private:
    ScratchFolder folder_;
    std::vector<std::wstring> paths_;
};

// Checks the listed paths against the selected items, in selection order.
void ExpectEachOpensItsItem(const ForeignSelection& selection, const std::vector<std::string>& listed) {
    size_t next = 0;
    for (size_t i = 0; i < kItems.size(); ++i) {
        const Item& item = kItems[i];
        const std::wstring& original = selection.Paths()[i];
        FileIdentity expected;
        ASSERT_TRUE(IdentityOfW(original, expected));
        for (int k = 0; k < item.times; ++k, ++next) {
            ASSERT_LT(next, listed.size()) << "item " << i << " missing";
            const std::string& path = listed[next];
            SCOPED_TRACE("item " + std::to_string(i) + ": " + path);
            if (item.inCodePage) {
                EXPECT_EQ(selection.Folder().Path() + Narrow(item.name), path);
            } else {
                EXPECT_EQ(std::string::npos, path.find('?'));
                EXPECT_NE(Narrow(original), path);
            }
            FileIdentity opened;
            ASSERT_TRUE(IdentityOf(path, opened)) << "the listed path opens nothing";
            EXPECT_EQ(expected, opened) << "the listed path opens another item";
            if (item.directory) {
                EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
            }
        }
    }
    EXPECT_EQ(next, listed.size());
}

std::vector<std::string> ShellsNarrowTexts(IDataObject* data) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(data->GetData(&format, &medium))) return {};
    const auto texts = DragQueryAll(static_cast<HDROP>(medium.hGlobal));
    ReleaseStgMedium(&medium);
    return texts;
}

// A volume without 8.3 names: GetShortPathNameW hands back the long path.
DWORD WINAPI NoShortNames(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    const DWORD length = lstrlenW(longPath);
    if (length + 1 > size) return length + 1;
    lstrcpyW(shortPath, longPath);
    return length;
}

}  // namespace

TEST_F(ForeignNames, EachListedPathOpensTheSelectedItem) {
    ASSERT_EQ(1252u, GetACP());
    ForeignSelection selection;
    Ref<IDataObject> data(ShellDataObjectW(selection.Paths()));
    ASSERT_TRUE(data);
    EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
    EXPECT_TRUE(HasSelection);
    ExpectEachOpensItsItem(selection, Listed());
    // Directories named as pictures stand twice, one right after the other.
    const auto listed = Listed();
    ASSERT_EQ(11u, listed.size());
    EXPECT_EQ(listed[6], listed[7]);
}

TEST_F(ForeignNames, ItemInsideAForeignFolder) {
    ScratchFolder folder;
    const std::wstring greek = folder.MakeDirectory(L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1");
    const std::wstring beach = folder.MakeFile(L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1\\strand.png");
    Ref<IDataObject> data(ShellDataObjectW({beach}));
    ASSERT_TRUE(data);
    EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
    const auto listed = Listed();
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(std::string::npos, listed[0].find('?'));
    FileIdentity expected, opened;
    ASSERT_TRUE(IdentityOfW(beach, expected));
    ASSERT_TRUE(IdentityOf(listed[0], opened)) << listed[0];
    EXPECT_EQ(expected, opened);
}

TEST_F(ForeignNames, WithoutShortNamesThePathIsKeptAsTheShellGivesIt) {
    ASSERT_EQ(1252u, GetACP());
    ForeignSelection selection;
    Ref<IDataObject> data(ShellDataObjectW(selection.Paths()));
    ASSERT_TRUE(data);
    const std::vector<std::string> shell = ShellsNarrowTexts(data.Get());
    ASSERT_EQ(kItems.size(), shell.size());
    HRESULT hr;
    {
        ImportPatch patch(GetModuleHandleA(nullptr), "kernel32.dll", "GetShortPathNameW",
                          reinterpret_cast<void*>(&NoShortNames));
        ASSERT_TRUE(patch.Applied());
        hr = CaptureInProcess(data.Get());
    }
    EXPECT_EQ(S_OK, hr);
    // The pictures by their extension, in the shell's 8-bit text with its "?"
    // and best-fit letters. The foreign folders are lost: "?" names nothing,
    // so no directory is found behind them; the one named as a picture still
    // stands once, by its extension.
    const std::vector<std::string> expected = {shell[0], shell[1], shell[2], shell[3], shell[4],
                                               shell[5], shell[6], shell[9], shell[10]};
    EXPECT_EQ(expected, Listed());
    EXPECT_NE(std::string::npos, shell[0].find('?'));
}

TEST_F(ForeignNames, ItemsThatNoLongerExistKeepTheShellsText) {
    // Nothing to ask a short name of: the path stays as the shell gives it.
    const std::vector<std::wstring> gone = {L"C:\\nirgends\\\u6771\u4EAC.jpg",
                                            L"C:\\nirgends\\\u0141\u00F3d\u017A.png",
                                            L"C:\\nirgends\\\u6771\u4EAC.txt"};
    DropDataObject data(gone);
    EXPECT_EQ(S_OK, CaptureInProcess(&data));
    EXPECT_EQ(std::vector<std::string>({Narrow(gone[0]), Narrow(gone[1])}), Listed());
    EXPECT_EQ(0, data.OutstandingMedia());
}

TEST_F(ForeignNames, NarrowListIsReadExactlyAsBefore) {
    ScratchFolder folder;
    folder.MakeDirectory(L"Zo\u00EB");
    const std::string root = folder.Path();
    const std::vector<std::string> selected = {root + "\xC4\xF6\xFC\xDF\xE9.jpg", "C:\\B\\??.jpg",
                                               root + "Zo\xEB", "C:\\B\\\x81\x8D\x90\x9D.PNG",
                                               "C:\\B\\L\xF3" "dz.txt"};
    DropDataObject data(selected);
    EXPECT_EQ(S_OK, CaptureInProcess(&data));
    EXPECT_EQ(std::vector<std::string>({selected[0], selected[1], selected[2], selected[3]}), Listed());
}

using ForeignNamesThroughDll = DllTest;

TEST_F(ForeignNamesThroughDll, MenuAppearsForAForeignSelection) {
    ForeignSelection selection;
    for (size_t i = 0; i < kItems.size(); ++i) {
        if (kItems[i].times == 0) continue;
        SCOPED_TRACE(i);
        Ref<IDataObject> data(ShellDataObjectW({selection.Paths()[i]}));
        ASSERT_TRUE(data);
        EXPECT_EQ(S_OK, Initialize(data.Get()));
        EXPECT_EQ(kMenuShown, Menu());
    }
    Ref<IDataObject> text(ShellDataObjectW({selection.Paths()[7]}));
    ASSERT_TRUE(text);
    EXPECT_EQ(E_INVALIDARG, Initialize(text.Get()));
    EXPECT_EQ(kMenuAbsent, Menu());
}
