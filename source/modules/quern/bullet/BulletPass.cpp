#include "quern/bullet/BulletPass.h"

#include "quern/render/Gizmos.h"
#include "quern/scene/Camera.h"
#include "quern/visuals/BatchVisual.h"

#include <BulletCollision/CollisionDispatch/btCollisionWorld.h>

namespace quern::bullet {

BulletPass::BulletPass(btCollisionWorld* world)
    : m_world(world)
{
    setName("BulletPass");
}

BulletPass::~BulletPass() { m_camera.reset(); }

void BulletPass::setCamera(scene::Camera* camera) { m_camera = camera ? Ref(camera) : Ref(); }

void BulletPass::recordCommands(render::RenderCommandList& list)
{
    RenderPass::recordCommands(list);
    render::RenderCommand custom;
    custom.type = render::RenderCommand::Custom;
    custom.setPointer(0, static_cast<render::RenderCallback*>(this));
    list.append(custom);
}

void BulletPass::run(render::RenderCommand&)
{
    if (camera())
        draw(*camera());
}

void BulletPass::render(render::RenderLists&, render::Renderer&, scene::Camera& given) { draw(given); }

void BulletPass::draw(scene::Camera& camera)
{
    if (m_world) {
        m_world->setDebugDrawer(&m_drawer);
        m_world->debugDrawWorld();
        m_world->setDebugDrawer(nullptr);
    }
    visuals::BatchVisual& visual = *m_drawer.batchVisual();
    if (visual.batchCount() == 0)
        return;
    render::drawBatchVisual(visual, camera, *queue());
}

} // namespace quern::bullet
