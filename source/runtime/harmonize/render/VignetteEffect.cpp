#include "harmonize/render/EffectMaterials.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/RenderTargetPool.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/PreloadedResources.h"

#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/materials/BlitMaterial.h"

namespace harmonize {

using quern::graphics::GenericMaterial;

bool VignetteEffect::setUp(const VignetteSettings& settings, const VignetteMask* mask, LoadingWorker& worker)
{
    release();
    m_vignette = prepareEffectMaterial(worker, settings.vignetteMaterial, "Vignette");
    m_aberration = prepareEffectMaterial(worker, settings.aberrationMaterial, "Vignette chromatic-aberration");
    m_blur = prepareEffectMaterial(worker, settings.blurMaterial, "Vignette blur");
    if (!m_vignette || !m_aberration || !m_blur) {
        release();
        return false;
    }
    m_settings = settings;
    m_downsample = makeDownsampleMaterial();

    GenericMaterial& vignette = *vignetteMaterial();
    // A copy's texture properties are empty until it takes its own handles.
    if (quern::assets::Depot* depot = worker.depot())
        vignette.acquireResources(*depot, worker.cache());
    if (mask)
        setTexture(vignette, vignette.findProperty("vignetteTex"), getPreloadedTexture(worker, mask->texture));
    m_blurredTexIndex = vignette.findProperty("blurredTex");
    m_intensityIndex = vignette.findProperty("intensity");
    m_blurIndex = vignette.findProperty("blur");
    m_aberrationIndex = aberrationMaterial()->findProperty("chromaticAberration");
    m_texelSizeIndex = aberrationMaterial()->findProperty("_MainTex_TexelSize");
    m_offsetsIndex = blurMaterial()->findProperty("offsets");
    setVector(*blurMaterial(), m_offsetsIndex, 0.0f, 0.0f, 0.0f, 1.0f);
    return true;
}

void VignetteEffect::release()
{
    m_settings = {};
    m_downsample.reset();
    m_vignette.reset();
    m_blur.reset();
    m_aberration.reset();
    m_blurIndex = m_intensityIndex = m_blurredTexIndex = m_offsetsIndex = m_aberrationIndex = m_texelSizeIndex = 0;
}

bool VignetteEffect::apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool)
{
    const i32 width = static_cast<i32>(source->width());
    const i32 height = static_cast<i32>(source->height());
    TargetPtr full = pool.acquire(RenderTargetRequest::colour(width, height));
    TargetPtr half = pool.acquire(RenderTargetRequest::colour(width / 2, height / 2));
    TargetPtr qa = pool.acquire(RenderTargetRequest::colour(width / 4, height / 4));
    TargetPtr qb = pool.acquire(RenderTargetRequest::colour(width / 4, height / 4));

    // The first halving goes through the aberration material with the
    // values the previous frame left in it.
    quads.blit(source, *half, *aberrationMaterial());
    setBlitSource(*downsampleMaterial(), colourTexture(half));
    quads.drawQuad(*qa, *downsampleMaterial());

    GenericMaterial& blur = *blurMaterial();
    const f32 spread = m_settings.blurSpread / 512.0f;
    for (int iteration = 0; iteration < 2; ++iteration) {
        setVector(blur, m_offsetsIndex, 0.0f, spread, 0.0f, 1.0f);
        quads.blit(qa, *qb, blur);
        setVector(blur, m_offsetsIndex, (static_cast<f32>(height) / static_cast<f32>(width)) * spread, 0.0f, 0.0f, 1.0f);
        quads.blit(qb, *qa, blur);
    }

    GenericMaterial& vignette = *vignetteMaterial();
    setFloat(vignette, m_intensityIndex, m_settings.intensity);
    setFloat(vignette, m_blurIndex, m_settings.blur);
    setTexture(vignette, m_blurredTexIndex, colourTexture(qa));
    quads.blit(source, *full, vignette);

    GenericMaterial& aberration = *aberrationMaterial();
    setFloat(aberration, m_aberrationIndex, m_settings.chromaticAberration);
    setVector(aberration, m_texelSizeIndex, 1.0f / static_cast<f32>(full->width()),
        1.0f / static_cast<f32>(full->height()), 0.0f, 1.0f);
    quads.blit(full, *destination, aberration);

    pool.release(full);
    pool.release(half);
    pool.release(qa);
    pool.release(qb);
    return true;
}

} // namespace harmonize
