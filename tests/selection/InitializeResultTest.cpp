// Initialize through the built DLL, as the shell calls it: result codes, the
// data object's references, its media, and whether the menu appears after.
#include "selection/SelectionFixture.h"

#include <atomic>
#include <cstdlib>

#include "support/ImportPatch.h"

namespace {

const std::vector<std::string> kPictures = {"C:\\Bilder\\Foto.JPG", "C:\\Bilder\\b.png"};
const std::vector<std::string> kTexts = {"C:\\Bilder\\a.txt", "C:\\Bilder\\b.doc"};

using SelectionResult = DllTest;

// After every call: the data object holds no reference of ours and every
// medium it handed out has been released.
void ExpectBalanced(const DropDataObject& data) {
    EXPECT_EQ(0, data.Refs());
    EXPECT_EQ(0, data.OutstandingMedia());
}

}  // namespace

TEST_F(SelectionResult, AcceptedSelectionAnswersSOkAndShowsTheMenu) {
    DropDataObject data(kPictures);
    EXPECT_EQ(S_OK, Initialize(&data));
    EXPECT_EQ(1, data.GetDataCalls());
    EXPECT_EQ(1, data.RefsDuringGetData()) << "one reference held for the call";
    ExpectBalanced(data);
    EXPECT_EQ(kMenuShown, Menu());

    DropDataObject wide(std::vector<std::wstring>{L"C:\\Bilder\\Foto.JPG"});
    EXPECT_EQ(S_OK, Initialize(&wide));
    ExpectBalanced(wide);
    EXPECT_EQ(kMenuShown, Menu());
}

TEST_F(SelectionResult, NothingAcceptedAnswersInvalidArgAndHidesTheMenu) {
    DropDataObject pictures(kPictures);
    ASSERT_EQ(S_OK, Initialize(&pictures));
    ASSERT_EQ(kMenuShown, Menu());

    DropDataObject texts(kTexts);
    EXPECT_EQ(E_INVALIDARG, Initialize(&texts));
    ExpectBalanced(texts);
    EXPECT_EQ(kMenuAbsent, Menu());

    ASSERT_EQ(S_OK, Initialize(&pictures));
    DropDataObject empty(std::vector<std::string>{});
    EXPECT_EQ(E_INVALIDARG, Initialize(&empty));
    ExpectBalanced(empty);
    EXPECT_EQ(kMenuAbsent, Menu());
    ExpectBalanced(pictures);
}

TEST_F(SelectionResult, NullDataObjectAnswersInvalidArgAndHidesTheMenu) {
    DropDataObject pictures(kPictures);
    ASSERT_EQ(S_OK, Initialize(&pictures));
    EXPECT_EQ(E_INVALIDARG, Initialize(nullptr));
    EXPECT_EQ(kMenuAbsent, Menu());
}

TEST_F(SelectionResult, FailingGetDataCodePassesThroughUnchanged) {
    DropDataObject pictures(kPictures);
    for (HRESULT failure : {DV_E_FORMATETC, E_OUTOFMEMORY, E_FAIL, STG_E_MEDIUMFULL,
                            static_cast<HRESULT>(0x8004DEAD)}) {
        ASSERT_EQ(S_OK, Initialize(&pictures));
        DropDataObject failing(kPictures);
        failing.failWith = failure;
        EXPECT_EQ(failure, Initialize(&failing));
        EXPECT_EQ(1, failing.GetDataCalls());
        ExpectBalanced(failing);
        EXPECT_EQ(kMenuAbsent, Menu());
    }
}

TEST_F(SelectionResult, SuccessCodesOtherThanSOkCountAsSuccess) {
    for (HRESULT success : {S_FALSE, DATA_S_SAMEFORMATETC}) {
        DropDataObject data(kPictures);
        data.failWith = success;
        EXPECT_EQ(S_OK, Initialize(&data));
        ExpectBalanced(data);
        EXPECT_EQ(kMenuShown, Menu());
    }
}

// The data object answered with something other than the global memory that
// was asked for: it is released, never read as a drop list.
TEST_F(SelectionResult, MediumOtherThanGlobalMemoryIsReleasedAndNotRead) {
    // (Only media whose handle the release object, not ReleaseStgMedium,
    // takes care of: a stream or storage would be released as such.)
    for (DWORD tymed : {DWORD(TYMED_GDI), DWORD(TYMED_MFPICT), DWORD(TYMED_ENHMF), DWORD(TYMED_NULL),
                        DWORD(TYMED_HGLOBAL | TYMED_GDI)}) {
        DropDataObject pictures(kPictures);
        ASSERT_EQ(S_OK, Initialize(&pictures));
        DropDataObject odd(kPictures);
        odd.tymed = tymed;
        EXPECT_EQ(E_INVALIDARG, Initialize(&odd)) << "tymed " << tymed;
        ExpectBalanced(odd);
        EXPECT_EQ(kMenuAbsent, Menu()) << "tymed " << tymed;
    }
    DropDataObject nullHandle(kPictures);
    nullHandle.nullHandle = true;
    EXPECT_EQ(E_INVALIDARG, Initialize(&nullHandle));
    ExpectBalanced(nullHandle);
    EXPECT_EQ(kMenuAbsent, Menu());
}

TEST_F(SelectionResult, ReferencesAndMediaBalanceOverManyCalls) {
    DropDataObject pictures(kPictures);
    DropDataObject texts(kTexts);
    DropDataObject failing(kPictures);
    failing.failWith = E_FAIL;
    for (int i = 0; i < 20; ++i) {
        Initialize(&pictures);
        Initialize(&texts);
        Initialize(&failing);
        Initialize(nullptr);
    }
    ExpectBalanced(pictures);
    ExpectBalanced(texts);
    ExpectBalanced(failing);
    EXPECT_EQ(20, pictures.GetDataCalls());
}

TEST_F(SelectionResult, ShellsOwnDataObjectOfARealPictureShowsTheMenu) {
    ScratchFolder folder;
    const std::wstring picture = folder.MakeFile(L"Foto.jpg");
    Ref<IDataObject> data(ShellDataObjectW({picture}));
    ASSERT_TRUE(data);
    EXPECT_EQ(S_OK, Initialize(data.Get()));
    EXPECT_EQ(kMenuShown, Menu());
}

// ---------------------------------------------------------------------------
// Memory running out inside the DLL while the list is built. The DLL's heap
// requests all go through its one import of malloc. Only the larger requests
// (the growing list) are refused, as in a process whose address space is
// used up: the C++ runtime needs a few small blocks to raise the error at all.

namespace {

using MallocFn = void*(__cdecl*)(size_t);
MallocFn realMalloc = nullptr;
std::atomic<int> largeAllocationsLeft{0};
constexpr size_t kLarge = 1024;

void* __cdecl RationedMalloc(size_t size) {
    if (size >= kLarge && largeAllocationsLeft.fetch_sub(1) <= 0) return nullptr;
    return realMalloc(size);
}

std::vector<std::wstring> ManyPictures(int count) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; ++i) {
        paths.push_back(L"C:\\Bilder\\Urlaub " + std::to_wstring(i) + L" mit langem Namen.jpg");
    }
    return paths;
}

}  // namespace

TEST_F(SelectionResult, OutOfMemoryAnswersEOutOfMemoryAndReleasesEverything) {
    DropDataObject pictures(kPictures);
    for (int ration : {0, 1, 2, 3, 4, 1000}) {
        SCOPED_TRACE("ration " + std::to_string(ration));
        ASSERT_EQ(S_OK, Initialize(&pictures));
        DropDataObject many(ManyPictures(300));
        HRESULT hr;
        {
            ImportPatch patch(dll_.Module(), "msvcrt.dll", "malloc",
                              reinterpret_cast<void*>(&RationedMalloc));
            ASSERT_TRUE(patch.Applied());
            realMalloc = reinterpret_cast<MallocFn>(patch.Original());
            largeAllocationsLeft = ration;
            hr = Initialize(&many);
        }
        ExpectBalanced(many);
        if (ration == 0) {
            EXPECT_EQ(E_OUTOFMEMORY, hr);
        }
        if (ration == 1000) {
            EXPECT_EQ(S_OK, hr);
        }
        if (hr == E_OUTOFMEMORY) {
            EXPECT_EQ(kMenuAbsent, Menu());
        } else {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(kMenuShown, Menu());
        }
    }
}
