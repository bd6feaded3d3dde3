#include "converter/readers/G3Fax.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace G3Fax {
namespace {

// The code tables of T.4, as bit strings in order of run length:
// terminating codes for 0 to 63, make-up codes for 64 to 1728 in steps of 64,
// and the make-up codes for 1792 to 2560 that both colours share.
const char* const kWhiteTerminating[64] = {
    "00110101", "000111", "0111", "1000", "1011", "1100", "1110", "1111", "10011", "10100", "00111",
    "01000", "001000", "000011", "110100", "110101", "101010", "101011", "0100111", "0001100",
    "0001000", "0010111", "0000011", "0000100", "0101000", "0101011", "0010011", "0100100",
    "0011000", "00000010", "00000011", "00011010", "00011011", "00010010", "00010011", "00010100",
    "00010101", "00010110", "00010111", "00101000", "00101001", "00101010", "00101011", "00101100",
    "00101101", "00000100", "00000101", "00001010", "00001011", "01010010", "01010011", "01010100",
    "01010101", "00100100", "00100101", "01011000", "01011001", "01011010", "01011011", "01001010",
    "01001011", "00110010", "00110011", "00110100"};
const char* const kWhiteMakeUp[27] = {
    "11011", "10010", "010111", "0110111", "00110110", "00110111", "01100100", "01100101",
    "01101000", "01100111", "011001100", "011001101", "011010010", "011010011", "011010100",
    "011010101", "011010110", "011010111", "011011000", "011011001", "011011010", "011011011",
    "010011000", "010011001", "010011010", "011000", "010011011"};
const char* const kBlackTerminating[64] = {
    "0000110111", "010", "11", "10", "011", "0011", "0010", "00011", "000101", "000100",
    "0000100", "0000101", "0000111", "00000100", "00000111", "000011000", "0000010111",
    "0000011000", "0000001000", "00001100111", "00001101000", "00001101100", "00000110111",
    "00000101000", "00000010111", "00000011000", "000011001010", "000011001011", "000011001100",
    "000011001101", "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111", "000001101100",
    "000001101101", "000011011010", "000011011011", "000001010100", "000001010101", "000001010110",
    "000001010111", "000001100100", "000001100101", "000001010010", "000001010011", "000000100100",
    "000000110111", "000000111000", "000000100111", "000000101000", "000001011000", "000001011001",
    "000000101011", "000000101100", "000001011010", "000001100110", "000001100111"};
const char* const kBlackMakeUp[27] = {
    "0000001111", "000011001000", "000011001001", "000001011011", "000000110011", "000000110100",
    "000000110101", "0000001101100", "0000001101101", "0000001001010", "0000001001011",
    "0000001001100", "0000001001101", "0000001110010", "0000001110011", "0000001110100",
    "0000001110101", "0000001110110", "0000001110111", "0000001010010", "0000001010011",
    "0000001010100", "0000001010101", "0000001011010", "0000001011011", "0000001100100",
    "0000001100101"};
const char* const kSharedMakeUp[13] = {
    "00000001000", "00000001100", "00000001101", "000000010010", "000000010011", "000000010100",
    "000000010101", "000000010110", "000000010111", "000000011100", "000000011101", "000000011110",
    "000000011111"};

// A binary code tree: each node's children by bit, a leaf holds its run.
class CodeTree {
public:
    CodeTree(const char* const* terminating, const char* const* makeUp) {
        nodes_.push_back(Node{});
        for (int i = 0; i < 64; ++i) Add(terminating[i], i);
        for (int i = 0; i < 27; ++i) Add(makeUp[i], 64 * (i + 1));
        for (int i = 0; i < 13; ++i) Add(kSharedMakeUp[i], 1792 + 64 * i);
    }
    // The node reached from `node` by `bit`; 0 when no code goes on that way.
    int Next(int node, int bit) const { return nodes_[node].child[bit]; }
    int Run(int node) const { return nodes_[node].run; }

private:
    struct Node {
        std::array<int, 2> child{{0, 0}};
        int run = -1;
    };
    void Add(const char* code, int run) {
        int node = 0;
        for (const char* bit = code; *bit; ++bit) {
            const int b = *bit - '0';
            if (!nodes_[node].child[b]) {
                nodes_[node].child[b] = static_cast<int>(nodes_.size());
                nodes_.push_back(Node{});
            }
            node = nodes_[node].child[b];
        }
        nodes_[node].run = run;
    }
    std::vector<Node> nodes_;
};

const CodeTree& Tree(bool black) {
    static const CodeTree white(kWhiteTerminating, kWhiteMakeUp);
    static const CodeTree blackTree(kBlackTerminating, kBlackMakeUp);
    return black ? blackTree : white;
}

class Bits {
public:
    Bits(const uint8_t* data, size_t size, bool lsbFirst) : data_(data), total_(size * 8), lsbFirst_(lsbFirst) {}
    size_t Pos() const { return pos_; }
    void Seek(size_t pos) { pos_ = std::min(pos, total_); }
    size_t Left() const { return total_ - pos_; }
    int Get() {
        if (pos_ >= total_) return -1;
        const uint8_t byte = data_[pos_ >> 3];
        const int shift = lsbFirst_ ? static_cast<int>(pos_ & 7) : 7 - static_cast<int>(pos_ & 7);
        ++pos_;
        return byte >> shift & 1;
    }
    // The zero bits from here on, at most `limit`.
    size_t Zeros(size_t limit) const {
        size_t n = 0;
        for (size_t p = pos_; p < total_ && n < limit; ++p, ++n) {
            const int shift = lsbFirst_ ? static_cast<int>(p & 7) : 7 - static_cast<int>(p & 7);
            if (data_[p >> 3] >> shift & 1) break;
        }
        return n;
    }
    // An end-of-line code here: at least 11 zeros (fill bits included), then a 1.
    bool SkipEol() {
        const size_t zeros = Zeros(total_);
        if (zeros < 11 || pos_ + zeros >= total_) return false;
        pos_ += zeros + 1;
        return true;
    }
    void Align() { Seek((pos_ + 7) & ~size_t{7}); }

private:
    const uint8_t* data_;
    size_t total_;
    size_t pos_ = 0;
    bool lsbFirst_;
};

// One row's runs into `row` (0 black, 255 white, kWidth bytes). False when a
// code is not in the tables or the runs do not add up to the row's width.
bool DecodeRow(Bits& bits, uint8_t* row) {
    uint32_t x = 0;
    bool black = false;
    while (x < kWidth) {
        uint32_t run = 0;
        for (;;) {  // make-up codes, then one terminating code
            const CodeTree& tree = Tree(black);
            int node = 0;
            do {
                const int bit = bits.Get();
                if (bit < 0) return false;
                node = tree.Next(node, bit);
                if (!node) return false;
            } while (tree.Run(node) < 0);
            run += static_cast<uint32_t>(tree.Run(node));
            if (run > kWidth - x) return false;
            if (tree.Run(node) < 64) break;
        }
        std::fill(row + x, row + x + run, black ? 0 : 255);
        x += run;
        black = !black;
    }
    return true;
}

struct Page {
    std::vector<uint8_t> grey;  // kWidth bytes a row
    uint32_t rows = 0;
    bool clean = false;  // ended at the end of the data or at two end-of-line codes in a row
    bool tooLarge = false;
    bool outOfMemory = false;
};

// The whole page with one bit order and one way of lining rows up; stops at
// the first row that does not decode.
Page Decode(const uint8_t* data, size_t size, bool lsbFirst, bool alignRows, uint64_t maxRows) {
    Page page;
    Bits bits(data, size, lsbFirst);
    bool eols = false;
    uint8_t row[kWidth];
    for (;;) {
        // End-of-line codes before the row; two or more in a row (the
        // return-to-control signal) end the page.
        int lineEnds = 0;
        while (bits.SkipEol()) ++lineEnds;
        if (lineEnds) eols = true;
        if (lineEnds >= 2 && page.rows > 0) {
            page.clean = true;
            break;
        }
        // Only fill bits, or less than any row needs, left.
        if (bits.Left() < 8 || bits.Zeros(bits.Left()) == bits.Left()) {
            page.clean = true;
            break;
        }
        if (page.rows >= maxRows) {
            page.tooLarge = true;
            break;
        }
        if (!DecodeRow(bits, row)) break;
        try {
            page.grey.insert(page.grey.end(), row, row + kWidth);
        } catch (const std::bad_alloc&) {
            page.outOfMemory = true;
            break;
        }
        ++page.rows;
        if (alignRows && !eols) bits.Align();
    }
    return page;
}

ReadResult ReadAt(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out, double dpiY) {
    const uint64_t maxRows = request.maxPixels / kWidth;
    // The first rows must decode for the file to count as a fax at all.
    constexpr uint32_t kFirstRows = 3;
    Page best;
    for (int variant = 0; variant < 4; ++variant) {
        Page page = Decode(data, size, variant >= 2, variant % 2 == 1, maxRows);
        if (page.rows == 0 || (!page.clean && page.rows < kFirstRows && !page.tooLarge)) continue;
        if (page.clean || page.tooLarge || page.outOfMemory) {
            best = std::move(page);
            break;
        }
        if (page.rows > best.rows) best = std::move(page);
    }
    if (best.tooLarge) return ReadResult{ReadStatus::TooLarge, nullptr};
    if (best.outOfMemory) return ReadResult{ReadStatus::OutOfMemory, nullptr};
    if (best.rows == 0) return ReadResult{ReadStatus::NotThisFormat, nullptr};
    // Its first rows decode, a later one does not: a fax, cut short or damaged.
    if (!best.clean) return ReadResult{ReadStatus::Damaged, nullptr};

    try {
        out.image.width = kWidth;
        out.image.height = best.rows;
        out.image.bgra.resize(best.grey.size() * 4);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return ReadResult{ReadStatus::OutOfMemory, nullptr};
    }
    for (size_t i = 0; i < best.grey.size(); ++i) {
        uint8_t* px = out.image.bgra.data() + i * 4;
        px[0] = px[1] = px[2] = best.grey[i];
        px[3] = 255;
    }
    out.orientation = 1;
    out.metadata = Metadata();
    out.metadata.dpiX = 204;
    out.metadata.dpiY = dpiY;
    return ReadResult{};
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ReadAt(data, size, request, out, 196);
}

ReadResult ReadNormal(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ReadAt(data, size, request, out, 98);
}

}  // namespace G3Fax
