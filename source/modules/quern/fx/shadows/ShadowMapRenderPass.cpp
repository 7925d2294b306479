#include "quern/fx/shadows/ShadowMapRenderPass.h"

#include "quern/fx/shadows/ShadowMatrix.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Camera.h"
#include "quern/scene/Light.h"

namespace quern::fx {
namespace {

constexpr u32 kClearDepth = 2;

} // namespace

ShadowMapRenderPass::ShadowMapRenderPass()
    : m_caster(new ShadowCaster())
    , m_refit(nullptr)
{
    m_refit = new RefitCallback(*this);
    culler = &m_caster->casterCuller;
    setName("shadowMapRenderPass");
    clearFlags = kClearDepth;
    invalidate();
}

ShadowMapRenderPass::~ShadowMapRenderPass()
{
    delete m_refit;
    delete m_caster;
}

graphics::Texture* ShadowMapRenderPass::findDepthTarget() const
{
    graphics::TextureRenderTarget* target = output();
    return target ? target->findDepthTexture() : nullptr;
}

void ShadowMapRenderPass::refitLightCamera()
{
    scene::Light* light = m_caster->light();
    if (!light)
        QUERN_FATAL("Shadow map pass recorded without a light");
    f32 width = light->width;
    f32 height = light->height;
    graphics::Texture* depth = fitToView ? findDepthTarget() : nullptr;
    if (depth && camera() && depth->pixelBuffer()) {
        const graphics::PixelBufferFormat& map = depth->pixelBuffer()->format();
        fitLightToView(*camera(), *light, width, height, map.width, map.height, fitHeight);
    }
    // The camera takes the fitted size: drawing with the light's own size
    // would waste the map on what the viewer cannot see.
    configureLightCamera(*light, *m_caster->lightCamera(), width, height);
}

void ShadowMapRenderPass::recordCommands(render::RenderCommandList& list)
{
    list.setRenderTarget(output());
    list.clear(output(), clearFlags, clearColour, clearDepth);
    render::RenderCommand refit;
    refit.type = render::RenderCommand::Custom;
    refit.setPointer(0, m_refit);
    list.append(refit);
    render::RenderQueue* casters = render::RenderQueue::create();
    casters->setOverrideMaterial(m_caster->casterShader());
    m_caster->casterCuller.root = sceneRoot();
    list.renderScene(sceneRoot(), m_caster->lightCamera(), casters, culler, nullptr);
}

void ShadowMapRenderPass::render(render::RenderLists&, render::Renderer&, scene::Camera& viewer)
{
    scene::Light* light = m_caster->light();
    if (!light)
        return;
    f32 width = light->width;
    f32 height = light->height;
    graphics::Texture* depth = fitToView ? findDepthTarget() : nullptr;
    if (depth && depth->pixelBuffer()) {
        const graphics::PixelBufferFormat& map = depth->pixelBuffer()->format();
        fitLightToView(viewer, *light, width, height, map.width, map.height, fitHeight);
    }
    configureLightCamera(*light, *m_caster->lightCamera(), width, height);
    if (scene::Node* root = sceneRoot())
        m_caster->casterRenderer()->renderFromCamera(root, *m_caster->lightCamera());
    m_caster->updateReceivers(viewer);
}

} // namespace quern::fx
