// The resize presets a menu offers: read afresh from the settings each time.
#pragma once

#include <cstdint>
#include <vector>

#include "untMain/CommandTable.h"

namespace Presets {

struct Preset {
    int number;  // 1 .. 10
    int32_t width;
    int32_t height;
    CommandOffset Offset() const { return FirstPresetOffset - 1 + static_cast<CommandOffset>(number); }
};

// The presets whose width and height are both non-zero, in order. A preset
// whose value cannot be read is left out and the others still come: one
// broken value should not cost the user the whole menu. Out of memory passes on.
std::vector<Preset> Offered();

}  // namespace Presets
