// Data objects that fail, hand out the wrong kind of medium, or hand out
// drop lists that are empty, malformed, very long or full of high bytes.
// Every answer is a clear result; media and references are given back.
#include <random>

#include "Reliability.h"

namespace {

const std::vector<std::string> kPrevious = {"C:\\Bilder\\vorher.jpg"};

// The list file that offset 0 writes: the selection as the module holds it.
std::string CurrentSelection(ExtensionHost& host) {
    DeleteFileA(host.ListFile().c_str());
    if (host.Invoke(0) != S_OK) return "<invoke failed>";
    std::string bytes;
    return ReadWholeFile(host.ListFile(), bytes) ? bytes : "<unreadable>";
}

TEST(HostileData, GetDataFailureCodesPassThrough) {
    ExtensionHost host("getdata");
    ASSERT_TRUE(host.Ready());
    std::vector<HRESULT> codes = {E_FAIL, E_OUTOFMEMORY, E_UNEXPECTED, E_NOTIMPL, E_INVALIDARG, E_POINTER,
                                  E_ACCESSDENIED, E_ABORT, DV_E_FORMATETC, DV_E_TYMED, DV_E_LINDEX,
                                  DV_E_DVASPECT, OLE_E_NOTRUNNING, RPC_E_DISCONNECTED, RPC_E_WRONG_THREAD,
                                  CO_E_NOTINITIALIZED, STG_E_MEDIUMFULL, CLIPBRD_E_BAD_DATA,
                                  HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), static_cast<HRESULT>(0x80000000),
                                  static_cast<HRESULT>(0xFFFFFFFF), static_cast<HRESULT>(0x8000FFFF)};
    std::mt19937 random(99);
    while (codes.size() < 2000) codes.push_back(static_cast<HRESULT>(random() | 0x80000000u));

    ASSERT_EQ(host.Select(kPrevious), S_OK);
    size_t passed = 0;
    Meter meter;
    for (size_t i = 0; i < codes.size(); ++i) {
        HostileDataObject data(HostileDataObject::Kind::HGlobal, codes[i]);
        const HRESULT hr = host.Select(&data);
        EXPECT_EQ(hr, codes[i]);
        EXPECT_EQ(data.Refs(), 0) << "reference kept";
        if (hr == codes[i]) ++passed;
        if (i % 250 == 0) {
            EXPECT_EQ(host.MenuResult(), S_OK) << "a failed Initialize left a selection to show";
            EXPECT_EQ(CurrentSelection(host), ListBytes(kPrevious)) << "the previous list must stay";
        }
    }
    // Success codes other than S_OK count as success.
    size_t successes = 0;
    for (HRESULT code : {S_FALSE, static_cast<HRESULT>(0x00040130), static_cast<HRESULT>(0x7FFFFFFF),
                         static_cast<HRESULT>(0x00000002)}) {
        HostileDataObject data(HostileDataObject::Kind::HGlobal, code);
        EXPECT_EQ(host.Select(&data), S_OK) << code;
        EXPECT_EQ(data.MediaOutstanding(), 0);
        EXPECT_EQ(data.Refs(), 0);
        ++successes;
    }
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"GetData failing with codes", codes.size() + successes,
               std::to_string(passed) + " failure codes passed through unchanged, previous list kept; " +
                   std::to_string(successes) + " success codes accepted",
               meter.Text()});
}

TEST(HostileData, MediaOfOtherTypes) {
    ExtensionHost host("tymed");
    ASSERT_TRUE(host.Ready());
    using Kind = HostileDataObject::Kind;
    const std::pair<Kind, const char*> kinds[] = {
        {Kind::NullHGlobal, "null HGLOBAL"}, {Kind::Stream, "ISTREAM"}, {Kind::Storage, "ISTORAGE"},
        {Kind::File, "FILE"}, {Kind::Gdi, "GDI"}, {Kind::EnhMetafile, "ENHMF"}, {Kind::MetafilePict, "MFPICT"},
        {Kind::Null, "NULL"}, {Kind::Unknown, "unknown tymed 0x4000"}};
    size_t tried = 0;
    std::string names;
    Meter meter;
    for (int round = 0; round < 50; ++round) {
        for (const auto& [kind, name] : kinds) {
            ASSERT_EQ(host.Select(kPrevious), S_OK);
            HostileDataObject data(kind, S_OK);
            EXPECT_EQ(host.Select(&data), E_INVALIDARG) << name;
            EXPECT_EQ(data.Refs(), 0) << name;
            EXPECT_EQ(data.MediaOutstanding(), 0) << name << ": medium not released";
            EXPECT_EQ(data.InterfaceRefsOutstanding(), 0) << name << ": stream/storage reference kept";
            if (round == 0) {
                EXPECT_EQ(host.MenuResult(), S_OK) << name;
                EXPECT_EQ(CurrentSelection(host), "") << name << ": data obtained, so the list is replaced";
                names += std::string(names.empty() ? "" : ", ") + name;
            }
            ++tried;
        }
    }
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"media of other types (x50 each)", tried,
               "all E_INVALIDARG, medium and references released, list emptied: " + names, meter.Text()});
}

HGLOBAL Block(const std::string& bytes) {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (block && !bytes.empty()) {
        std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
        GlobalUnlock(block);
    }
    return block;
}

std::string Header(DWORD pFiles, BOOL wide) {
    DROPFILES header = {};
    header.pFiles = pFiles;
    header.fWide = wide;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// Hand-made and random drop blocks: the reader stays inside the block.
TEST(HostileData, MalformedDropBlocks) {
    ExtensionHost host("blocks");
    ASSERT_TRUE(host.Ready());
    const DWORD h = sizeof(DROPFILES);
    std::vector<std::string> blocks = {
        "",                                                          // no header at all
        std::string(h - 1, '\0'),                                    // a byte short of one
        Header(h, FALSE),                                            // header, no list
        Header(h, FALSE) + std::string(1, '\0'),                     // one zero
        Header(h, FALSE) + std::string(2, '\0'),                     // the empty list
        Header(h, TRUE) + std::string(4, '\0'),                      // the empty wide list
        Header(h, FALSE) + "C:\\a.jpg",                              // no terminator
        Header(h, TRUE) + std::string("C\0:\0\\\0a\0.\0j\0p\0g", 15),  // wide, odd length, no terminator
        Header(h + 1, TRUE) + std::string("\0a\0.\0g\0i\0f\0\0\0\0\0", 16),  // wide at an odd offset
        Header(0xFFFFFFFF, FALSE) + "C:\\a.jpg" + std::string(2, '\0'),     // pFiles far past the block
        Header(h + 12, FALSE) + "C:\\a.jpg" + std::string(2, '\0'),         // pFiles past the end
        Header(0, FALSE) + "C:\\a.jpg" + std::string(2, '\0'),              // pFiles inside the header
        Header(h, FALSE) + std::string(100000, 'x') + ".jpg",              // 100 kB path, no terminator
    };
    std::mt19937 random(1234);
    for (int i = 0; i < 3000; ++i) {
        const size_t size = random() % 400;
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
        if (size >= h) {
            const DWORD pFiles = random() % 3 == 0 ? static_cast<DWORD>(random()) : static_cast<DWORD>(random() % (size + 8));
            std::memcpy(&bytes[0], Header(pFiles, static_cast<BOOL>(random() % 2)).data(), h);
        }
        blocks.push_back(bytes);
    }
    size_t accepted = 0, refused = 0;
    Meter meter;
    for (const std::string& bytes : blocks) {
        HostileDataObject data(HostileDataObject::Kind::HGlobal, S_OK, Block(bytes));
        const HRESULT hr = host.Select(&data);
        ASSERT_TRUE(hr == S_OK || hr == E_INVALIDARG) << "block of " << bytes.size() << " bytes answered " << hr;
        ASSERT_EQ(data.Refs(), 0);
        ASSERT_EQ(data.MediaOutstanding(), 0);
        (hr == S_OK ? accepted : refused)++;
    }
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"malformed and random drop blocks", blocks.size(),
               std::to_string(accepted) + " S_OK, " + std::to_string(refused) +
                   " E_INVALIDARG, no crash, media released (over-reads: see the native fuzz_drop_list)",
               meter.Text()});
}

TEST(HostileData, EmptyListLongPathsAndHighBytes) {
    ExtensionHost host("paths");
    ASSERT_TRUE(host.Ready());
    size_t tried = 0;
    Meter meter;

    // The empty drop list.
    ASSERT_EQ(host.Select(kPrevious), S_OK);
    EXPECT_EQ(host.Select(std::vector<std::string>{}), E_INVALIDARG);
    EXPECT_EQ(host.MenuResult(), S_OK);
    EXPECT_EQ(CurrentSelection(host), "");
    ++tried;

    // 259, 260, 261 and 1,000 characters: kept, or cut to the first 260,
    // whose extension then decides.
    const std::string p259 = "C:\\L\\" + std::string(250, 'a') + ".png";
    const std::string p260 = "C:\\L\\" + std::string(251, 'a') + ".png";
    const std::string p261 = p260 + "x";
    const std::string p1000 = p260 + std::string(740, 'y');
    const std::string cutAway = "C:\\L\\" + std::string(252, 'b') + ".pn" + std::string(500, 'g');  // ".pn" at 260
    ASSERT_EQ(p259.size(), 259u);
    ASSERT_EQ(p260.size(), 260u);
    ASSERT_EQ(host.Select({p259, p260, p261, p1000, cutAway}), S_OK);
    EXPECT_EQ(CurrentSelection(host), ListBytes({p259, p260, p260, p260}));
    std::vector<std::wstring> wide;
    for (const std::string& p : {p259, p260, p261, p1000, cutAway}) wide.push_back(std::wstring(p.begin(), p.end()));
    DropDataObject wideData(wide);
    ASSERT_EQ(host.Select(&wideData), S_OK);
    EXPECT_EQ(CurrentSelection(host), ListBytes({p259, p260, p260, p260}));
    tried += 10;

    // Every byte from 0x01 to 0xFF in a name, byte for byte into the list.
    std::vector<std::string> high;
    for (int b = 1; b <= 0xFF; ++b) high.push_back("C:\\hb\\n" + std::string(1, static_cast<char>(b)) + "x.gif");
    std::string all;
    for (int b = 0x80; b <= 0xFF; ++b) all += static_cast<char>(b);
    high.push_back("C:\\hb\\" + all + ".JPG");
    ASSERT_EQ(host.Select(high), S_OK);
    // A byte 0x5C is a backslash and makes "x.gif" a name of its own: still accepted.
    EXPECT_EQ(CurrentSelection(host), ListBytes(high));
    tried += high.size();
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"empty list, paths of 259/260/261/1000, bytes 01-FF", tried,
               "empty list E_INVALIDARG and list emptied; long paths kept or cut to 260 (narrow and wide); "
               "every byte kept exactly",
               meter.Text()});
}

}  // namespace
