#include "harmonize/render/QuadPasses.h"

#include "harmonize/display/FrameLayout.h"
#include "harmonize/render/PostEffect.h"
#include "harmonize/render/QuadRenderer.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/render/RenderQueue.h"
#include "quern/visuals/MeshVisual.h"

namespace harmonize {

FullscreenQuadPass::FullscreenQuadPass()
    : m_visual(new quern::visuals::MeshVisual())
    , m_material(new quern::graphics::SpriteMaterial())
    , m_projection(quern::math::Matrix4::orthographic(-1.0f, 1.0f, 1.0f, -1.0f, -1.0f, 1.0f, true))
    , m_worldView(quern::math::Matrix4::identity())
{
    clearFlags = quern::graphics::GraphicsBackEnd::ClearColour;
    clearColour[0] = clearColour[1] = clearColour[2] = 0.0f;
    clearColour[3] = 1.0f;
    invalidate();
}

FullscreenQuadPass::~FullscreenQuadPass()
{
    m_material.reset();
    m_visual.reset();
}

void FullscreenQuadPass::setUp()
{
    quern::visuals::MeshVisual* quad = visual();
    buildQuadVisual(*quad, *quern::graphics::Display::get());
    quad->setMaterial(material());
}

void FullscreenQuadPass::recordCommands(quern::render::RenderCommandList& list)
{
    list.setRenderTarget(output());
    list.clear(output(), clearFlags, clearColour, clearDepth);
    const ViewportRect area = computeOutputViewport();
    const quern::i32 rect[4] = { area.x, area.y, area.width, area.height };
    list.setViewport(rect);

    quern::render::RenderQueue* drawing = quern::render::RenderQueue::create();
    drawing->setOverrideMaterial(queue()->overrideShader());
    quern::render::RenderCommand draw;
    draw.type = quern::render::RenderCommand::RenderVisual;
    draw.setPointer(0, drawing);
    draw.setPointer(1, &m_projection);
    draw.setPointer(2, &m_worldView);
    draw.setPointer(3, visual());
    list.append(draw);
}

CallbackQuadPass::CallbackQuadPass(
    PostEffect& effect, QuadRenderer& quads, RenderTargetPool& pool, PostProcessTargets& targets)
    : m_effect(effect)
    , m_quads(quads)
    , m_pool(pool)
    , m_targets(targets)
    , m_callback(*this)
{
}

CallbackQuadPass::~CallbackQuadPass() = default;

void CallbackQuadPass::recordCommands(quern::render::RenderCommandList& list)
{
    quern::render::RenderCommand call;
    call.type = quern::render::RenderCommand::Custom;
    call.setPointer(0, static_cast<quern::render::RenderCallback*>(&m_callback));
    list.append(call);
}

void CallbackQuadPass::run()
{
    // Outside a built pipeline there is nothing to read or write.
    if (!m_targets.source || !m_targets.destination)
        return;
    if (m_effect.apply(m_targets.source, m_targets.destination, m_quads, m_pool))
        m_targets.swap();
}

} // namespace harmonize
