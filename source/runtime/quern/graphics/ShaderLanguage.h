#pragma once
// The shading languages that shader programs are written in; a display's
// device version selects one.

#include "quern/Types.h"

namespace quern::graphics {

enum class ShaderLanguage : i32 {
    GLSL = 2,
    HLSL = 3,
    PSSL = 4,
    GXP = 5,
    // The null device's own programs, which compile to nothing.
    Null = 6,
};

} // namespace quern::graphics
