// What the supervisor and its worker processes say to each other over their
// pipe. Pure: no Windows types, so the byte rules are tested and fuzzed
// natively. A message is a 4-byte little-endian length, then its body: a
// kind byte and fields (32-bit little-endian numbers, strings as a length
// in code units and UTF-16LE code units).
//
//   supervisor -> worker: Job (once), then per picture Picture, and Go when
//                         the worker's Opened is admitted
//   worker -> supervisor: Opened (the decoded size and the memory its
//                         conversion needs, before any of it is taken), then Done
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace WorkerProtocol {

enum class Kind : uint8_t { Job = 1, Picture = 2, Go = 3, Opened = 4, Done = 5 };

// The job as the worker needs it: the format by its token (empty: each
// source's own), the box, the name tag, the quality and the target folder.
struct JobMessage {
    std::string formatToken;
    uint32_t boxWidth = 0, boxHeight = 0;
    bool enlarge = false;
    std::wstring tag;
    uint32_t jpegQuality = 90;
    std::wstring folder;
};

struct PictureMessage {
    std::wstring path, folder, name;
};

struct OpenedMessage {
    uint32_t width = 0, height = 0;  // as decoded
    uint32_t mebibytes = 0;          // what its conversion holds at its peak, rounded up
};

struct DoneMessage {
    bool converted = false;
    bool started = true;
    bool outOfMemory = false;  // worth trying again with the memory of all workers
    std::wstring result;       // full path when converted
    std::wstring reason;       // German, when not
    std::wstring substituteFrom, substituteTo;  // Pipeline::Outcome's
    std::wstring remark;                        // Pipeline::Outcome's
};

// No message the two sides exchange comes near this; a larger length is a
// broken pipe's garbage and ends the conversation.
constexpr uint32_t MaxBodyBytes = 1u << 20;

// The whole message, length included.
std::vector<uint8_t> Encode(const JobMessage& job);
std::vector<uint8_t> Encode(const PictureMessage& picture);
std::vector<uint8_t> EncodeGo();
std::vector<uint8_t> Encode(const OpenedMessage& opened);
std::vector<uint8_t> Encode(const DoneMessage& done);

// The body's length from the first 4 bytes of a message; false beyond MaxBodyBytes.
bool BodyLength(const uint8_t* head, uint32_t& length);

// The kind of a body; false for an empty one.
bool KindOf(const std::vector<uint8_t>& body, Kind& kind);

// Each is false unless the body is exactly a message of that kind.
bool Decode(const std::vector<uint8_t>& body, JobMessage& job);
bool Decode(const std::vector<uint8_t>& body, PictureMessage& picture);
bool Decode(const std::vector<uint8_t>& body, OpenedMessage& opened);
bool Decode(const std::vector<uint8_t>& body, DoneMessage& done);

}  // namespace WorkerProtocol
