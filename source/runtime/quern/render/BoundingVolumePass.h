#pragma once
// Draws the bounding boxes and spheres of the visible nodes as wire volumes.
// With cull first set it culls its own root; otherwise it draws with the
// lists of the last Cull recorded before it by another pass.

#include "quern/render/RenderCommand.h"
#include "quern/render/ScenePass.h"

namespace quern::visuals {
class BoxVisual;
class SphereVisual;
class Visual;
} // namespace quern::visuals

namespace quern::render {

class BoundingVolumePass : public ScenePass {
public:
    BoundingVolumePass();
    ~BoundingVolumePass() override;

    // Nothing at all with both volumes off; else bind, clear, the optional
    // cull, and a Custom command drawing with the lists it inherits.
    void recordCommands(RenderCommandList& list) override;
    // Draws the given lists with the given camera, the pass's queue and flags.
    void render(RenderLists& lists, Renderer& renderer, scene::Camera& camera) override;

    visuals::BoxVisual* boxVisual() const;
    visuals::SphereVisual* sphereVisual() const;

    u8 drawBoxes = 0;
    u8 drawSpheres = 1;
    u8 cullFirst = 1;

private:
    // What one recording draws with; each pass keeps its own, so a second
    // pass's recording cannot redirect the first one's drawing.
    struct Callback final : RenderCallback {
        void run(RenderCommand& command) override;
        RenderQueue* queue = nullptr;
        scene::Camera* camera = nullptr;
        visuals::Visual* box = nullptr;
        visuals::Visual* sphere = nullptr;
    };

    Ref m_box;
    Ref m_sphere;
    Callback m_callback;
};

// One box and sphere per visible node, through the queue.
void drawBoundingVolumes(
    scene::Camera& camera, RenderLists& lists, RenderQueue& queue, visuals::Visual* box, visuals::Visual* sphere);

} // namespace quern::render
