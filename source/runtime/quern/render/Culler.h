#pragma once
// Culling: a Culler fills render lists from a frustum. The scene culler walks
// a node tree with the cull visitor, which keeps only shown nodes that have a
// visual.

#include "quern/scene/NodeVisitor.h"

namespace quern::math {
class Frustum;
}

namespace quern::render {

struct RenderLists;

class Culler {
public:
    virtual ~Culler() = default;
    virtual void cull(const math::Frustum& frustum, RenderLists& lists) = 0;
};

class CullVisitor final : public scene::NodeVisitor {
public:
    explicit CullVisitor(RenderLists& lists)
        : m_lists(lists)
    {
    }

    // Empties the lists.
    void begin(scene::Node* root) override;
    void end() override { }
    // Hidden nodes and nodes without a visual are left out; flag 0 is culled,
    // any other visible.
    void visitNode(scene::Node* node, u32 flag) override;
    void visitLight(scene::Light* light, u32 flag) override;
    void visitCamera(scene::Camera* camera, u32 flag) override;

private:
    RenderLists& m_lists;
};

// Adds the node to the lists as a cull visitor does.
void collectNode(RenderLists& lists, scene::Node* node, u32 flag);

class SceneCuller final : public Culler {
public:
    explicit SceneCuller(scene::Node* root = nullptr)
        : root(root)
    {
    }

    void cull(const math::Frustum& frustum, RenderLists& lists) override;

    // The process's culler for Cull commands that bring none; each command
    // sets its root before use.
    static SceneCuller& defaultCuller();

    scene::Node* root;
};

} // namespace quern::render
