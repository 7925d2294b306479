#pragma once
// The record of one draw that the render queue hands to the graphics device
// when it uploads uniforms. Automatic uniforms read their values from it, so
// the matrices are pointers into the queue's own storage, valid for the draw.

#include "quern/math/Matrix4.h"

namespace quern::render {

struct RenderContext;

struct RenderJob {
    const math::Matrix4* modelMatrix = nullptr;
    const math::Matrix4* modelViewMatrix = nullptr;
    const math::Matrix4* modelViewProjectionMatrix = nullptr;
    const math::Matrix4* viewMatrix = nullptr;
    // The pass's context; it holds the projection matrix.
    const RenderContext* context = nullptr;
};

} // namespace quern::render
