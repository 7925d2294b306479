#pragma once
// The per-pass view that the render queue draws with: the camera's matrices
// that every draw of the pass shares.

#include "quern/math/Matrix4.h"

namespace quern::render {

struct RenderContext {
    const math::Matrix4* projectionMatrix = nullptr;
};

} // namespace quern::render
