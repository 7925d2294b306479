#include "harmonize/render/PostEffects.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/render/EffectMaterials.h"
#include "harmonize/render/QuadPasses.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/materials/BlitMaterial.h"
#include "quern/graphics/materials/BrightnessMaterial.h"

#include <algorithm>
#include <utility>

namespace harmonize {

using quern::graphics::GenericMaterial;

// PostProcessTargets ---------------------------------------------------------

void PostProcessTargets::set(
    quern::graphics::TextureRenderTarget* firstTarget, quern::graphics::TextureRenderTarget* secondTarget)
{
    first = firstTarget ? quern::Ref(firstTarget) : quern::Ref();
    second = secondTarget ? quern::Ref(secondTarget) : quern::Ref();
    reset();
}

void PostProcessTargets::reset()
{
    source = first.get<quern::graphics::TextureRenderTarget>();
    destination = second.get<quern::graphics::TextureRenderTarget>();
}

void PostProcessTargets::swap() { std::swap(source, destination); }

void PostProcessTargets::release()
{
    first.reset();
    second.reset();
    source = nullptr;
    destination = nullptr;
}

// Resolve --------------------------------------------------------------------

void ResolveEffect::setUp(quern::graphics::TextureRenderTarget* sceneTarget)
{
    m_material = quern::Ref(new quern::graphics::BlitMaterial());
    m_sceneTarget = sceneTarget ? quern::Ref(sceneTarget) : quern::Ref();
}

void ResolveEffect::release()
{
    m_material.reset();
    m_sceneTarget.reset();
}

bool ResolveEffect::apply(TargetPtr, TargetPtr destination, QuadRenderer& quads, RenderTargetPool&)
{
    setBlitSource(*material(), colourTexture(m_sceneTarget.get<quern::graphics::TextureRenderTarget>()));
    quads.drawQuad(*destination, *material());
    return true;
}

// Brightness -----------------------------------------------------------------

void BrightnessEffect::setUp()
{
    auto* material = new quern::graphics::BrightnessMaterial();
    material->setGamma(1.0f);
    material->setBrightness(0.0f);
    m_material = quern::Ref(material);
}

void BrightnessEffect::release() { m_material.reset(); }

bool BrightnessEffect::apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool&)
{
    quern::graphics::BrightnessMaterial& copy = *material();
    // The setting moves the gamma curve; adding it to the colour would wash
    // the image out to white.
    const f32 gamma = Settings::Graphics.brightness * 0.005f + 0.5f;
    if (gamma != copy.gamma()) {
        copy.setGamma(gamma);
        copy.setDirty();
    }
    setBlitSource(copy, colourTexture(source));
    quads.drawQuad(*destination, copy);
    return true;
}

// FXAA -----------------------------------------------------------------------

bool FxaaEffect::setUp(const FxaaSettings& settings, LoadingWorker& worker)
{
    release();
    m_material = prepareEffectMaterial(worker, settings.material, "FXAA");
    if (!m_material)
        return false;
    m_frameBufferIndex = material()->findProperty("frameBuffer");
    m_inverseResolutionIndex = material()->findProperty("inverseResolution");
    return true;
}

void FxaaEffect::release()
{
    m_material.reset();
    m_frameBufferIndex = 0;
    m_inverseResolutionIndex = 0;
}

bool FxaaEffect::apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool&)
{
    GenericMaterial& fxaa = *material();
    setTexture(fxaa, m_frameBufferIndex, colourTexture(source));
    setVector(fxaa, m_inverseResolutionIndex, 1.0f / static_cast<f32>(source->width()),
        1.0f / static_cast<f32>(source->height()), 0.0f, 1.0f);
    quads.blit(source, *destination, fxaa);
    return true;
}

// Overlay --------------------------------------------------------------------

bool OverlayEffect::setUp(const OverlaySettings& settings, LoadingWorker& worker)
{
    release();
    m_material = prepareEffectMaterial(worker, settings.material, "Overlay");
    if (!m_material)
        return false;
    GenericMaterial& overlay = *material();
    overlay.reserveProperties(overlay.propertyCount() + 1);
    const i32 intensity = overlay.addProperty("_Intensity", quern::graphics::MaterialPropertyType::Float);
    overlay.setPropertyFloat(intensity, settings.intensity);
    m_mainTexIndex = overlay.findProperty("_MainTex");
    setTexture(overlay, overlay.findProperty("_Overlay"), getPreloadedTexture(worker, settings.texture));
    return true;
}

void OverlayEffect::release()
{
    m_material.reset();
    m_mainTexIndex = 0;
}

bool OverlayEffect::apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool&)
{
    setTexture(*material(), m_mainTexIndex, colourTexture(source));
    quads.blit(source, *destination, *material());
    return true;
}

// Present --------------------------------------------------------------------

void PresentEffect::setUp(quern::graphics::TextureRenderTarget* windowTarget)
{
    auto* material = new quern::graphics::BlitMaterial();
    m_material = quern::Ref(material);
    m_windowTarget = windowTarget;
    m_viewport = computeOutputViewport();
    const DisplaySize& display = processDisplaySize();
    const FrameSize frame = requestedFrameSize(FrameSettings::fromSettings(), display.width, display.height);
    // A frame larger than the display is halved on the way to the window.
    if (display.width < frame.width || display.height < frame.height) {
        material->setDownsample(true);
        material->setDirty();
    }
}

void PresentEffect::release()
{
    m_material.reset();
    m_windowTarget = nullptr;
    m_viewport = { 0, 0, 0, 0 };
}

bool PresentEffect::apply(TargetPtr source, TargetPtr, QuadRenderer& quads, RenderTargetPool&)
{
    if (!m_windowTarget)
        return true;
    quern::graphics::TextureRenderTarget& window = *m_windowTarget;
    setBlitSource(*material(), colourTexture(source));
    const i32* current = window.viewport();
    const i32 remembered[4] = { current[0], current[1], current[2], current[3] };
    const f32 black[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    window.clear(quern::graphics::GraphicsBackEnd::ClearColour, black);
    window.setViewport(m_viewport.x, m_viewport.y, m_viewport.width, m_viewport.height);
    quads.drawQuad(window, *material());
    window.setViewport(remembered[0], remembered[1], remembered[2], remembered[3]);
    return true;
}

// The process's effects ------------------------------------------------------

CallbackQuadPass* PostEffects::makePass(PostEffect& effect, RenderTargetPool& pool)
{
    return new CallbackQuadPass(effect, quads, pool, targets);
}

void PostEffects::release()
{
    resolve.release();
    brightness.release();
    fxaa.release();
    bloom.release();
    vignette.release();
    overlay.release();
    present.release();
    quads.release();
    targets.release();
}

PostEffects& postEffects()
{
    static PostEffects effects;
    return effects;
}

} // namespace harmonize
