// The image-extension rule against its definition. The first byte picks the
// code page (single-byte, Shift-JIS, GBK); the rest is the path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/ReferenceModels.h"
#include "untMain/ImageExtensions.h"

namespace {
[[noreturn]] void Fail(const char* what, std::string_view path) {
    std::fprintf(stderr, "%s for a path of %zu bytes\n", what, path.size());
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Model::LeadByte pages[] = {nullptr, Model::ShiftJisLead, Model::GbkLead};
    const Model::LeadByte lead = pages[data[0] % 3];
    const std::string_view path(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string_view got = ImageExtensions::PathExtension(path, lead);
    if (!got.empty() && (got.data() < path.data() || got.data() + got.size() != path.data() + path.size()))
        Fail("extension is not a tail of the path", path);
    const std::string_view want = Model::Extension(path, lead);
    if (got != want) Fail("extension differs from the model", path);
    if (ImageExtensions::HasAcceptedExtension(path, lead) != Model::Accepts(want))
        Fail("acceptance differs from the model", path);
    // The whole input as an extension, too.
    if (ImageExtensions::IsAcceptedExtension(path) != Model::Accepts(path))
        Fail("IsAcceptedExtension differs from the model", path);
    return 0;
}
