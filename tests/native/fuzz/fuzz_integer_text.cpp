// The integer text rule against the reference model, on any bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "model/ReferenceModels.h"
#include "settings/IntegerText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    constexpr int32_t untouched = 0x13579BDF;
    int32_t value = untouched;
    const bool valid = ParseIntegerText(text, value);
    const std::optional<int32_t> want = Model::IntegerText(text);
    if (valid != want.has_value() || (valid && value != *want) || (!valid && value != untouched)) {
        std::fprintf(stderr, "ParseIntegerText disagrees: valid %d value %d, model %s %d\n", valid, value,
                     want ? "valid" : "invalid", want ? *want : 0);
        std::abort();
    }
    return 0;
}
