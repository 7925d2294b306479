#pragma once
// Draws a Bullet world's debug lines over the frame: the world draws into the
// pass's debug drawer from a Custom command, and the lines of the frame
// before are drawn through the pass's queue with the owner's camera.

#include "quern/bullet/BulletDebugDrawer.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderPass.h"

class btCollisionWorld;

namespace quern::bullet {

class BulletPass : public render::RenderPass, public render::RenderCallback {
public:
    // The world is not owned and must outlive the pass.
    explicit BulletPass(btCollisionWorld* world);
    ~BulletPass() override;

    // Bind and clear the output, then draw from a Custom command.
    void recordCommands(render::RenderCommandList& list) override;
    void run(render::RenderCommand& command) override;
    void render(render::RenderLists& lists, render::Renderer& renderer, scene::Camera& camera) override;

    void setCamera(scene::Camera* camera);
    scene::Camera* camera() const { return m_camera.get<scene::Camera>(); }
    BulletDebugDrawer& drawer() { return m_drawer; }

private:
    void draw(scene::Camera& camera);

    btCollisionWorld* m_world;
    Ref m_camera;
    BulletDebugDrawer m_drawer;
};

} // namespace quern::bullet
