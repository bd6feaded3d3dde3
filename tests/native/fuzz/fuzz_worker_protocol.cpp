// Any bytes as a message body of each kind: no read outside them, and what
// decodes encodes back to the very same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "converter/run/WorkerProtocol.h"

namespace {

template <class Message>
void RoundTrip(const std::vector<uint8_t>& body) {
    Message message;
    if (!WorkerProtocol::Decode(body, message)) return;
    const std::vector<uint8_t> again = WorkerProtocol::Encode(message);
    if (again.size() != body.size() + 4 || !std::equal(body.begin(), body.end(), again.begin() + 4)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> body(data, data + size);
    RoundTrip<WorkerProtocol::JobMessage>(body);
    RoundTrip<WorkerProtocol::PictureMessage>(body);
    RoundTrip<WorkerProtocol::OpenedMessage>(body);
    RoundTrip<WorkerProtocol::DoneMessage>(body);
    if (size >= 4) {
        uint32_t length = 0;
        if (WorkerProtocol::BodyLength(data, length) && length > WorkerProtocol::MaxBodyBytes) abort();
    }
    return 0;
}
