// Where a writer that works row by row puts its bytes as they come: a
// growing vector (the whole-picture path) or the result's temporary file
// (the streamed path). Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// Takes the next `size` bytes of the file; false: they could not be kept
// (disk full, no memory), and the writer stops.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

// A writer that takes a picture's rows as they come; its start, which
// differs by format, comes before.
class RowSink {
public:
    virtual ~RowSink() = default;
    // One BGRA row, top to bottom; false once anything has failed.
    virtual bool Row(const uint8_t* bgra) = 0;
    // The end of the file; false when anything failed on the way.
    virtual bool Finish() = 0;
};

// A sink appending to `out`.
inline ByteSink Appending(std::vector<uint8_t>& out) {
    // Called from inside codecs written in C: no exception may pass.
    return [&out](const uint8_t* data, size_t size) {
        try {
            out.insert(out.end(), data, data + size);
            return true;
        } catch (...) {
            return false;
        }
    };
}

// Holds back a file's first bytes until `prefix` of them have come (or the
// file ends), then hands them through `edit` (which puts the metadata into
// the headers; empty: failed) and everything after them straight on: the
// same bytes as editing the whole file, for an edit that copies what
// follows the headers unchanged.
class EditedHead {
public:
    using Edit = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& head)>;
    EditedHead(ByteSink out, size_t prefix, Edit edit) : out_(std::move(out)), prefix_(prefix), edit_(std::move(edit)) {}

    ByteSink Sink() {
        return [this](const uint8_t* data, size_t size) { return Put(data, size); };
    }
    // Hands on what is still held back (a file shorter than the prefix).
    bool Finish() { return Release(); }

private:
    bool Put(const uint8_t* data, size_t size) {
        if (released_) return out_(data, size);
        head_.insert(head_.end(), data, data + size);
        return head_.size() < prefix_ || Release();
    }
    bool Release() {
        if (released_) return true;
        released_ = true;
        const std::vector<uint8_t> edited = edit_ ? edit_(head_) : head_;
        std::vector<uint8_t>().swap(head_);
        return !edited.empty() && out_(edited.data(), edited.size());
    }

    ByteSink out_;
    size_t prefix_;
    Edit edit_;
    std::vector<uint8_t> head_;
    bool released_ = false;
};
