#include "quern/render/Gizmos.h"

#include "quern/graphics/materials/ParticleMaterial.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/visuals/BatchVisual.h"

namespace quern::render {

const f32 Gizmos::kPalette[PaletteSize][4] = {
    { 0, 0, 0, 1 },
    { 1, 1, 1, 1 },
    { 1, 0, 0, 1 },
    { 0, 1, 0, 1 },
    { 0, 0, 1, 1 },
    { 0, 1, 1, 1 },
    { 1, 0, 1, 1 },
    { 1, 1, 0, 1 },
    { 0.5f, 0.5f, 0.5f, 1 },
};

Gizmos::Gizmos()
    : m_batchVisual(new visuals::BatchVisual())
{
    batchVisual()->setMaterial(new graphics::DebugMaterial());
    setName("Gizmos");
}

Gizmos::~Gizmos()
{
    m_records.release();
    m_batchVisual.reset();
    m_camera.reset();
}

visuals::BatchVisual* Gizmos::batchVisual() const { return m_batchVisual.get<visuals::BatchVisual>(); }

void Gizmos::setCamera(scene::Camera* camera) { m_camera = camera ? Ref(camera) : Ref(); }

void Gizmos::recordCommands(RenderCommandList& list)
{
    RenderPass::recordCommands(list);
    RenderCommand custom;
    custom.type = RenderCommand::Custom;
    custom.setPointer(0, static_cast<RenderCallback*>(this));
    list.append(custom);
}

void Gizmos::drawLine(const math::Vector3& a, const math::Vector3& b, u32 colour)
{
    const f32* c = kPalette[colour];
    visuals::PrimitiveBatch* lines = batchVisual()->getBatch(graphics::PrimitiveType::LineList);
    lines->addVertex(a.x, a.y, a.z, c[0], c[1], c[2], c[3], 0, 0);
    lines->addVertex(b.x, b.y, b.z, c[0], c[1], c[2], c[3], 0, 0);
}

void Gizmos::drawAxes(const math::Matrix4& m)
{
    const math::Vector3 o { m.m[12], m.m[13], m.m[14] };
    drawLine(o, o + math::Vector3 { m.m[0], m.m[1], m.m[2] }, Red);
    drawLine(o, o + math::Vector3 { m.m[4], m.m[5], m.m[6] }, Green);
    drawLine(o, o + math::Vector3 { m.m[8], m.m[9], m.m[10] }, Blue);
}

void Gizmos::drawRectangle(f32 x, f32 y, f32 hx, f32 hy)
{
    const math::Vector3 corners[4]
        = { { x - hx, y + hy, 0 }, { x + hx, y + hy, 0 }, { x + hx, y - hy, 0 }, { x - hx, y - hy, 0 } };
    for (int k = 0; k < 4; ++k)
        drawLine(corners[k], corners[(k + 1) % 4], Magenta);
}

void Gizmos::run(RenderCommand&)
{
    for (u64 i = 0; i < m_records.count(); ++i) {
        const Record& record = m_records.at<Record>(i);
        if (record.kind != 1)
            continue;
        math::Matrix4 axes = record.rotation->toMatrix4();
        axes.m[12] = record.position[0];
        axes.m[13] = record.position[1];
        axes.m[14] = record.position[2];
        drawAxes(axes);
    }
    if (batchVisual()->batchCount() == 0 || !camera())
        return;
    drawBatchVisual(*batchVisual(), *camera(), *queue());
}

void drawBatchVisual(visuals::BatchVisual& visual, scene::Camera& camera, RenderQueue& queue)
{
    camera.refresh();
    const math::Matrix4& view = camera.viewMatrix();
    const math::Matrix4& projection = camera.projectionMatrix();
    queue.setWorldViewMatrix(view);
    queue.state().view = queue.state().pooledMatrix(view);
    queue.setProjectionMatrix(projection);
    queue.setWorldViewProjectionMatrix(projection * view);
    RenderContext context;
    queue.submitVisual(&visual, context);
    visual.flush();
    visual.setFlags(visuals::Visual::ContentsChanged);
    visual.notifyChanged();
    queue.flush(context);
}

} // namespace quern::render
