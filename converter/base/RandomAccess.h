// A file a writer can go back in: libtiff writes a TIFF's directory after
// its strips and then names it in the header, and the metadata step appends
// a new directory the same way. Held in memory (the whole-picture path) or
// the result's temporary file (the streamed path). Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class RandomAccess {
public:
    virtual ~RandomAccess() = default;
    // Up to `size` bytes at `at`; fewer at the end or on an error.
    virtual size_t ReadAt(uint64_t at, uint8_t* into, size_t size) = 0;
    // Writes at `at`, growing the file; false when the bytes could not be kept.
    virtual bool WriteAt(uint64_t at, const uint8_t* data, size_t size) = 0;
    virtual uint64_t Size() = 0;
    // Cuts the file to `size` bytes.
    virtual bool Truncate(uint64_t size) = 0;
};

// Over a byte vector, which it grows. Never throws: running out of memory
// is a failed write (libtiff, written in C, calls it).
class InMemory : public RandomAccess {
public:
    explicit InMemory(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    size_t ReadAt(uint64_t at, uint8_t* into, size_t size) override;
    bool WriteAt(uint64_t at, const uint8_t* data, size_t size) override;
    uint64_t Size() override { return bytes_.size(); }
    bool Truncate(uint64_t size) override;

private:
    std::vector<uint8_t>& bytes_;
};
