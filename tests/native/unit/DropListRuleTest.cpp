// The extension's reader of the shell's drop list on hand-made blocks: it
// stays inside the block, hands out the paths of the format, and cuts a path
// for the path buffer without splitting a double-byte character.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "shim/PlatformStubs.h"
#include "untMain/DropList.h"

namespace {

std::string Header(uint32_t pFiles, bool wide) {
    DROPFILES header = {};
    header.pFiles = pFiles;
    header.fWide = wide;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

std::vector<std::string> NarrowPaths(const std::string& bytes) {
    const HGLOBAL block = PlatformStubs::MakeGlobalBlock(bytes.data(), bytes.size());
    std::vector<std::string> paths;
    {
        DropList list(block);
        DropPath path;
        while (list.Next(path)) paths.emplace_back(path.narrow);
    }
    EXPECT_EQ(static_cast<PlatformStubs::GlobalBlock*>(block)->locks, 0);
    PlatformStubs::FreeGlobalBlock(block);
    return paths;
}

using Paths = std::vector<std::string>;
const uint32_t h = sizeof(DROPFILES);

TEST(DropListRule, HandMadeBlocks) {
    EXPECT_EQ(NarrowPaths(Header(h, false) + std::string("C:\\a.jpg\0C:\\b.png\0\0", 19)), (Paths{"C:\\a.jpg", "C:\\b.png"}));
    EXPECT_EQ(NarrowPaths(Header(h, false) + std::string(2, '\0')), Paths{});
    EXPECT_EQ(NarrowPaths(Header(h, false)), Paths{});
    EXPECT_EQ(NarrowPaths(""), Paths{});
    EXPECT_EQ(NarrowPaths(std::string(h - 1, '\0')), Paths{});
    EXPECT_EQ(NarrowPaths(Header(h, false) + "C:\\ohne_ende.jpg"), Paths{}) << "a path without its zero";
    EXPECT_EQ(NarrowPaths(Header(h, false) + std::string("a.jpg\0C:\\ohne", 13)), Paths{"a.jpg"});
    EXPECT_EQ(NarrowPaths(Header(0xFFFFFFFF, false) + std::string("a.jpg\0\0", 7)), Paths{});
    EXPECT_EQ(NarrowPaths(Header(h + 7, false) + std::string("a.jpg\0\0", 7)), Paths{}) << "pFiles at the end";
    // pFiles inside the header: the header's own bytes are read as paths.
    const std::string inside = Header(4, false) + std::string("x.gif\0\0", 7);
    EXPECT_EQ(NarrowPaths(inside), Model::DropPaths<char>(reinterpret_cast<const unsigned char*>(inside.data()),
                                                          inside.size(), h, 4));
}

TEST(DropListRule, CutToPathLengthKeepsDoubleByteCharactersWhole) {
    PlatformStubs::LeadByte = Model::ShiftJisLead;
    std::string text = std::string(259, 'a') + "\x95\x5C" + "tail";  // a pair across the 260th byte
    EXPECT_EQ(CutToPathLength(text.data(), text.size()), 259u);
    text = std::string(258, 'a') + "\x95\x5C" + "tail";  // the pair ends at 260
    EXPECT_EQ(CutToPathLength(text.data(), text.size()), 260u);
    PlatformStubs::LeadByte = nullptr;
    EXPECT_EQ(CutToPathLength(text.data(), text.size()), 260u);
    EXPECT_EQ(CutToPathLength(text.data(), 12), 12u);
}

TEST(DropListRule, PathBufferNeverOverrun) {
    PathBuffer buffer;
    for (size_t length : {0u, 1u, 259u, 260u, 261u, 1000u, 100000u}) {
        const std::string path(length, 'p');
        DropPath narrow;
        narrow.narrow = path;
        const size_t got = ShellAnsiText(narrow, buffer);
        EXPECT_EQ(got, std::min<size_t>(length, MAX_PATH));
        EXPECT_EQ(buffer[got], '\0');
        if (length == 0) continue;  // the reader never hands out an empty path
        const std::wstring wide(length, L'w');
        DropPath widePath;
        widePath.wide = wide;
        const size_t gotWide = ShellAnsiText(widePath, buffer);
        EXPECT_EQ(gotWide, std::min<size_t>(length, MAX_PATH));
        EXPECT_EQ(buffer[gotWide], '\0');
    }
}

}  // namespace
