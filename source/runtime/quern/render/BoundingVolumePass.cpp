#include "quern/render/BoundingVolumePass.h"

#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Node.h"
#include "quern/visuals/PrimitiveVisuals.h"

namespace quern::render {

namespace {

f32 squaredDistance(const Vector4& a, const math::Vector3& b)
{
    const f32 dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// A volume of the unit visual scaled per axis and moved to `centre`, drawn as
// the camera sees it: M, then V, then P.
void submitVolume(RenderQueue& queue, RenderContext& context, visuals::Visual* visual, const math::Vector3& scale,
    const math::Vector3& centre, const math::Matrix4& view, const math::Matrix4& projection)
{
    math::Matrix4 model;
    model.m[0] = scale.x;
    model.m[5] = scale.y;
    model.m[10] = scale.z;
    model.m[12] = centre.x;
    model.m[13] = centre.y;
    model.m[14] = centre.z;
    math::Matrix4 worldView = view;
    worldView.multiplyAffine(model);
    queue.setWorldMatrix(model);
    queue.setWorldViewMatrix(worldView);
    queue.setWorldViewProjectionMatrix(projection * worldView);
    context.depthKey = squaredDistance(*context.cameraPosition, centre);
    queue.submitVisual(visual, context);
}

} // namespace

BoundingVolumePass::BoundingVolumePass()
    : m_box(new visuals::BoxVisual())
    , m_sphere(new visuals::SphereVisual())
{
    Ref material(new graphics::DebugMaterial());
    boxVisual()->setMaterial(material.get<graphics::Material>());
    visuals::SphereVisual* sphere = sphereVisual();
    sphere->setMaterial(material.get<graphics::Material>());
    // Sixteen segments are plenty for a wire volume: rebuilt on first use.
    sphere->segments = 16;
    sphere->setFlags(visuals::Visual::GeometryDirty);
    sphere->notifyChanged();
    setName("BoundingVolumePass");
}

BoundingVolumePass::~BoundingVolumePass()
{
    m_sphere.reset();
    m_box.reset();
}

visuals::BoxVisual* BoundingVolumePass::boxVisual() const { return m_box.get<visuals::BoxVisual>(); }

visuals::SphereVisual* BoundingVolumePass::sphereVisual() const { return m_sphere.get<visuals::SphereVisual>(); }

void BoundingVolumePass::recordCommands(RenderCommandList& list)
{
    m_callback.queue = queue();
    m_callback.camera = camera();
    m_callback.box = drawBoxes ? boxVisual() : nullptr;
    m_callback.sphere = drawSpheres ? sphereVisual() : nullptr;
    if (!m_callback.box && !m_callback.sphere)
        return;
    RenderPass::recordCommands(list);
    if (cullFirst)
        list.cull(sceneRoot(), camera());
    RenderCommand custom;
    custom.type = RenderCommand::Custom;
    custom.setPointer(0, static_cast<RenderCallback*>(&m_callback));
    list.append(custom);
}

void BoundingVolumePass::Callback::run(RenderCommand& command)
{
    if (command.renderLists && camera)
        drawBoundingVolumes(*camera, *command.renderLists, *queue, box, sphere);
}

void BoundingVolumePass::render(RenderLists& lists, Renderer&, scene::Camera& camera)
{
    drawBoundingVolumes(
        camera, lists, *queue(), drawBoxes ? boxVisual() : nullptr, drawSpheres ? sphereVisual() : nullptr);
}

void drawBoundingVolumes(
    scene::Camera& camera, RenderLists& lists, RenderQueue& queue, visuals::Visual* box, visuals::Visual* sphere)
{
    const math::Matrix4& cameraWorld = camera.getWorldTransform();
    const Vector4 position { cameraWorld.m[12], cameraWorld.m[13], cameraWorld.m[14], 1.0f };
    camera.refresh();
    const math::Matrix4 view = camera.viewMatrix();
    const math::Matrix4 projection = camera.projectionMatrix();
    queue.state().view = queue.state().pooledMatrix(view);
    queue.setProjectionMatrix(projection);
    RenderContext context;
    context.cameraPosition = queue.state().pooledVector(position);
    for (u64 i = 0; i < lists.visibleCount(); ++i) {
        scene::Node* node = lists.visibleNode(i);
        if (!node || !node->visual() || node->hidden)
            continue;
        context.node = node;
        if (box) {
            math::Vector3 min, max;
            node->getBoundingBox(min, max);
            submitVolume(queue, context, box, max - min, (min + max) * 0.5f, view, projection);
        }
        if (sphere) {
            math::Vector3 centre;
            const f32 radius = node->visual()->getBoundingSphere(centre);
            math::Matrix4 world;
            node->getRenderTransform(world);
            const f32 s = radius * visuals::largestAxisScale(world.m);
            submitVolume(queue, context, sphere, { s, s, s }, world.transformPoint(centre), view, projection);
        }
    }
    queue.flush(context);
}

} // namespace quern::render
