#pragma once
// Which nodes cast shadows, and the culler that gathers them from a scene
// root for the light's camera. A node casts when it shows a visual and its
// shadow mode is 2, or 1 while it is not hidden.

#include "quern/Types.h"
#include "quern/render/Culler.h"

namespace quern::scene {
class Node;
}

namespace quern::fx {

bool castsShadow(const scene::Node& node);

// Adds casters to the lists: visible, or culled when the visit says the node
// lies outside the frustum.
class CasterVisitor final : public scene::NodeVisitor {
public:
    explicit CasterVisitor(render::RenderLists& lists)
        : m_lists(lists)
    {
    }
    // Empties the lists.
    void begin(scene::Node* root) override;
    void end() override { }
    void visitNode(scene::Node* node, u32 flag) override;
    void visitLight(scene::Light* light, u32 flag) override;
    void visitCamera(scene::Camera* camera, u32 flag) override;

private:
    render::RenderLists& m_lists;
};

class CasterCuller final : public render::Culler {
public:
    void cull(const math::Frustum& frustum, render::RenderLists& lists) override;

    scene::Node* root = nullptr;
};

} // namespace quern::fx
