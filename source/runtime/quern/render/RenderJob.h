#pragma once
// One draw: what a visual submits per sub-mesh and what the render queue
// sorts and hands to the graphics device. Automatic uniforms read their
// matrices from it, so the matrices are pointers into the queue's pools,
// valid until the queue resets.

#include "quern/Types.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/math/Matrix4.h"

namespace quern::graphics {
class IndexBuffer;
class Shader;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::scene {
class Node;
}

namespace quern::render {

struct RenderContext;
struct Vector4;

struct RenderJob {
    u64 sortKey = 0;
    scene::Node* node = nullptr;
    graphics::VertexBuffer* vertexBuffer = nullptr;
    graphics::IndexBuffer* indexBuffer = nullptr;
    // Per texture unit; null leaves the unit to the pass's own texture.
    graphics::TextureOverrides textures;
    u32 firstIndex = 0;
    // -1: the index buffer's own range (or every vertex).
    i32 indexCount = -1;
    graphics::Shader* shader = nullptr;
    const math::Matrix4* modelMatrix = nullptr;
    const math::Matrix4* modelViewMatrix = nullptr;
    const math::Matrix4* modelViewProjectionMatrix = nullptr;
    const math::Matrix4* viewMatrix = nullptr;
    const Vector4* cameraPosition = nullptr;
    // The context the job was submitted with; it holds the projection.
    const RenderContext* context = nullptr;
    f32 depthKey = 0.0f;
    // The job pool's free-list link.
    void* poolLink = nullptr;
};

} // namespace quern::render
