#pragma once
// The ordinary pass of a PassList: binds and clears its output, culls its
// scene root from its camera and draws the visible nodes. It can also draw at
// once for a Renderer, culling its own root.

#include "quern/render/RenderPass.h"

namespace quern::scene {
class Node;
}

namespace quern::render {

class ScenePass : public RenderPass {
public:
    ScenePass() = default;
    ~ScenePass() override;

    // Bind, clear, cull (the default culler), whole-target viewport, then a
    // RenderScene with a fresh clone of the pass's queue (sort mode 0) that
    // keeps the queue's override.
    void recordCommands(RenderCommandList& list) override;
    // Culls the root into lists of its own and draws them through the pass's
    // queue; the pass's camera when set, else the given one.
    void render(RenderLists& lists, Renderer& renderer, scene::Camera& camera) override;

    // A different camera or root makes the owner record again.
    void setCamera(scene::Camera* camera);
    void setSceneRoot(scene::Node* root);
    scene::Camera* camera() const { return m_camera.get<scene::Camera>(); }
    scene::Node* sceneRoot() const { return m_root.get<scene::Node>(); }

private:
    Ref m_camera;
    Ref m_root;
};

// A scene pass whose queue collects jobs without drawing them.
class CollectingScenePass : public ScenePass {
public:
    CollectingScenePass();
};

} // namespace quern::render
