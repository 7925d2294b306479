#pragma once
// What a visual is submitted with: where its jobs go and the matrices of the
// node being drawn. Built on the stack by whoever submits; the render queue
// fills the pool, job list and current matrices, the caller the node, its
// world-space centre and its depth key.

#include "quern/Types.h"
#include "quern/math/Matrix4.h"

namespace quern::containers {
class Array;
}

namespace quern::scene {
class Node;
}

namespace quern::render {

struct RenderQueueState;

// A point or direction with its w, as the queue pools them.
struct Vector4 {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;
    f32 w = 1.0f;
};

struct RenderContext {
    containers::Array* jobs = nullptr; // RenderJob*, in submission order
    RenderQueueState* state = nullptr; // its job pool
    scene::Node* node = nullptr;
    const math::Matrix4* worldMatrix = nullptr;
    const math::Matrix4* viewMatrix = nullptr;
    const math::Matrix4* projectionMatrix = nullptr;
    const math::Matrix4* worldViewMatrix = nullptr;
    const math::Matrix4* worldViewProjectionMatrix = nullptr;
    const Vector4* cameraPosition = nullptr;
    // The node's world-space bounding-sphere centre, or null.
    const Vector4* nodeCentre = nullptr;
    f32 depthKey = 0.0f;
};

} // namespace quern::render
