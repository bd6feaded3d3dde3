// What Initialize leaves in the selection list, read from this program's own
// module state.
#include "selection/SelectionFixture.h"

#include <cstdlib>

#include "support/ImportPatch.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

namespace {

using Selection = InProcessTest;
using Paths = std::vector<std::string>;

// Initialize with a narrow drop list; the medium must be released whatever
// the outcome.
HRESULT CaptureNarrow(const Paths& paths) {
    DropDataObject data(paths);
    const HRESULT hr = CaptureInProcess(&data);
    EXPECT_EQ(0, data.OutstandingMedia());
    EXPECT_EQ(0, data.Refs());
    return hr;
}

HRESULT CaptureWide(const Paths& paths) {
    std::vector<std::wstring> wide;
    for (const auto& p : paths) wide.push_back(Widen(p));
    DropDataObject data(wide);
    const HRESULT hr = CaptureInProcess(&data);
    EXPECT_EQ(0, data.OutstandingMedia());
    EXPECT_EQ(0, data.Refs());
    return hr;
}

// A picture's path is kept as it was selected, capitals and all, in a narrow
// list as in a wide one.
void ExpectKept(const Paths& selected, const Paths& kept) {
    SCOPED_TRACE(selected.front());
    EXPECT_EQ(kept.empty() ? E_INVALIDARG : S_OK, CaptureNarrow(selected));
    EXPECT_EQ(kept, Listed());
    EXPECT_EQ(!kept.empty(), HasSelection.load());
    EXPECT_EQ(kept.empty() ? E_INVALIDARG : S_OK, CaptureWide(selected));
    EXPECT_EQ(kept, Listed());
    EXPECT_EQ(!kept.empty(), HasSelection.load());
}

}  // namespace

TEST_F(Selection, PicturesAreKeptByTheirExtension) {
    ExpectKept({"C:\\Bilder\\Foto.JPG"}, {"C:\\Bilder\\Foto.JPG"});
    ExpectKept({"C:\\Bilder\\Foto.jpeg.bak"}, {});
    ExpectKept({"C:\\Bilder\\a.b\\readme"}, {});
    ExpectKept({"C:\\Bilder\\.gif"}, {"C:\\Bilder\\.gif"});
    ExpectKept({"C:\\Bilder\\Foto."}, {});
    for (const char* refused : {"a.ps", "a.jfif", "a.jpeg2000"}) {
        ExpectKept({std::string("C:\\Bilder\\") + refused}, {});
    }
    const Paths accepted = {"C:\\Bilder\\a.tif", "C:\\Bilder\\a.tiff", "C:\\Bilder\\a.psp",
                            "C:\\Bilder\\a.pspimage"};
    ExpectKept(accepted, accepted);
}

TEST_F(Selection, OnlyTextFilesLeaveTheListEmpty) {
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\Bilder\\Foto.JPG"}));
    EXPECT_EQ(E_INVALIDARG, CaptureNarrow({"C:\\Bilder\\a.txt", "C:\\Bilder\\b.txt"}));
    EXPECT_TRUE(Listed().empty());
    EXPECT_FALSE(HasSelection);
    EXPECT_EQ("", SelectionText());
}

TEST_F(Selection, NullDataObjectKeepsThePreviousList) {
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\Bilder\\Foto.JPG", "C:\\Bilder\\b.png"}));
    EXPECT_EQ(E_INVALIDARG, CaptureInProcess(nullptr));
    EXPECT_EQ(Paths({"C:\\Bilder\\Foto.JPG", "C:\\Bilder\\b.png"}), Listed());
    EXPECT_FALSE(HasSelection);
}

TEST_F(Selection, FailingGetDataKeepsThePreviousList) {
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\Bilder\\Foto.JPG"}));
    DropDataObject failing({"C:\\Bilder\\other.png"});
    failing.failWith = DV_E_TYMED;
    EXPECT_EQ(DV_E_TYMED, CaptureInProcess(&failing));
    EXPECT_EQ(Paths({"C:\\Bilder\\Foto.JPG"}), Listed());
    EXPECT_FALSE(HasSelection);
}

TEST_F(Selection, UnreadableMediumEmptiesTheList) {
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\Bilder\\Foto.JPG"}));
    DropDataObject metafile({"C:\\Bilder\\other.png"});
    metafile.tymed = TYMED_ENHMF;
    EXPECT_EQ(E_INVALIDARG, CaptureInProcess(&metafile));
    EXPECT_TRUE(Listed().empty());
    EXPECT_FALSE(HasSelection);
    EXPECT_EQ(0, metafile.OutstandingMedia());
}

TEST_F(Selection, DuplicatesAndOrderAreKept) {
    const Paths selected = {"C:\\B\\z.png", "C:\\B\\a.txt", "C:\\B\\a.jpg", "C:\\B\\z.png",
                            "C:\\B\\m.GIF", "C:\\B\\z.png"};
    ExpectKept(selected, {"C:\\B\\z.png", "C:\\B\\a.jpg", "C:\\B\\z.png", "C:\\B\\m.GIF", "C:\\B\\z.png"});
}

TEST_F(Selection, LongPathsAreTestedAndStoredAsTheirFirst260Characters) {
    const std::string head = "C:\\" + std::string(252, 'a');  // 255 characters
    ASSERT_EQ(255u, head.size());
    // The cut falls right after ".jpg": the first 260 characters end in it.
    const std::string cutToPicture = head + "\\.jpg" + std::string(40, 'b') + ".txt";
    // The cut falls in the middle of the name: no extension is left.
    const std::string cutAwayExtension = head + "\\" + std::string(40, 'c') + ".jpg";
    ExpectKept({cutToPicture, cutAwayExtension}, {cutToPicture.substr(0, 260)});
    ExpectKept({head + "\\a.jpg"}, {});  // 261 characters: the cut leaves "...\a.jp"
    ExpectKept({head + "\\.jpg"}, {head + "\\.jpg"});                     // exactly 260
    ExpectKept({std::string(1000, 'x') + ".png"}, {});
    ExpectKept({head.substr(0, 254) + "\\.tif"}, {head.substr(0, 254) + "\\.tif"});  // 259
}

TEST_F(Selection, DirectoriesOfTheShellsOwnDataObject) {
    ScratchFolder folder;
    const std::string root = folder.Path();
    folder.MakeDirectory(L"Urlaub");
    folder.MakeDirectory(L"Urlaub.jpg");
    {
        Ref<IDataObject> data(ShellDataObjectW({folder.PathW() + L"Urlaub"}));
        ASSERT_TRUE(data);
        EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
        EXPECT_EQ(Paths({root + "Urlaub"}), Listed());
    }
    {
        Ref<IDataObject> data(ShellDataObjectW({folder.PathW() + L"Urlaub.jpg"}));
        ASSERT_TRUE(data);
        EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
        EXPECT_EQ(Paths({root + "Urlaub.jpg", root + "Urlaub.jpg"}), Listed());
    }
    {
        Ref<IDataObject> data(ShellDataObjectW({L"C:\\"}));
        ASSERT_TRUE(data);
        EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
        EXPECT_EQ(Paths({"C:\\"}), Listed());
    }
    // A narrow list reaches the same directory test.
    EXPECT_EQ(S_OK, CaptureNarrow({"C:\\", root + "Urlaub.jpg", root + "missing"}));
    EXPECT_EQ(Paths({"C:\\", root + "Urlaub.jpg", root + "Urlaub.jpg"}), Listed());
}

TEST_F(Selection, MixedSelectionKeepsPicturesAndDirectoriesInOrder) {
    ScratchFolder folder;
    const std::string root = folder.Path();
    const std::wstring a = folder.MakeFile(L"a.txt");
    const std::wstring b = folder.MakeFile(L"b.png");
    const std::wstring c = folder.MakeDirectory(L"c");
    Ref<IDataObject> data(ShellDataObjectW({a, b, c}));
    ASSERT_TRUE(data);
    EXPECT_EQ(S_OK, CaptureInProcess(data.Get()));
    EXPECT_EQ(Paths({root + "b.png", root + "c"}), Listed());
    EXPECT_TRUE(HasSelection);
    // A file named like a folder is no directory; a picture is kept without
    // any look at the disk.
    EXPECT_EQ(S_OK, CaptureNarrow({root + "a.txt", root + "nowhere.jpg", root + "c"}));
    EXPECT_EQ(Paths({root + "nowhere.jpg", root + "c"}), Listed());
}

TEST_F(Selection, LatestCallOnAnyObjectDecides) {
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\B\\first.png"}));
    ASSERT_EQ(S_OK, CaptureNarrow({"C:\\B\\second.png", "C:\\B\\third.bmp"}));
    EXPECT_EQ(Paths({"C:\\B\\second.png", "C:\\B\\third.bmp"}), Listed());
    EXPECT_EQ(ListText({"C:\\B\\second.png", "C:\\B\\third.bmp"}), SelectionText());
}

// ---------------------------------------------------------------------------
// Memory running out: this program's own import of malloc refuses the larger
// requests for the length of the one call (small ones the C++ runtime needs
// to raise the error at all).

namespace {

using MallocFn = void*(__cdecl*)(size_t);
MallocFn realMalloc = nullptr;
volatile LONG largeAllocationsLeft = 0;

void* __cdecl RationedMalloc(size_t size) {
    if (size >= 1024 && InterlockedDecrement(&largeAllocationsLeft) < 0) return nullptr;
    return realMalloc(size);
}

}  // namespace

TEST_F(Selection, OutOfMemoryEmptiesTheListAndReleasesTheMedium) {
    std::vector<std::wstring> many;
    for (int i = 0; i < 200; ++i) many.push_back(L"C:\\Bilder\\Bild " + std::to_wstring(i) + L".png");
    for (LONG ration : {0, 1, 2}) {
        ASSERT_EQ(S_OK, CaptureNarrow({"C:\\Bilder\\Foto.JPG"}));
        DropDataObject data(many);
        TComObject* object = TKontextMenuShellExt::Create();
        IShellExtInit* init = nullptr;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)));
        HRESULT hr;
        {
            ImportPatch patch(GetModuleHandleA(nullptr), "msvcrt.dll", "malloc",
                              reinterpret_cast<void*>(&RationedMalloc));
            ASSERT_TRUE(patch.Applied());
            realMalloc = reinterpret_cast<MallocFn>(patch.Original());
            largeAllocationsLeft = ration;
            hr = init->Initialize(nullptr, &data, nullptr);
        }
        init->Release();
        EXPECT_EQ(E_OUTOFMEMORY, hr) << "ration " << ration;
        EXPECT_FALSE(HasSelection);
        EXPECT_TRUE(Listed().empty()) << "a failed call must not leave the previous selection";
        EXPECT_EQ(0, data.OutstandingMedia());
        EXPECT_EQ(0, data.Refs());
    }
}
