#include "harmonize/render/EffectMaterials.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/RenderTargetPool.h"

#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/materials/BlitMaterial.h"

namespace harmonize {

using quern::graphics::GenericMaterial;

bool BloomEffect::setUp(const BloomSettings& settings, LoadingWorker& worker)
{
    release();
    m_combine = prepareEffectMaterial(worker, settings.combineMaterial, "Bloom combine");
    m_brightPass = prepareEffectMaterial(worker, settings.brightPassMaterial, "Bloom bright-pass");
    m_blur = prepareEffectMaterial(worker, settings.blurMaterial, "Bloom blur");
    if (!m_combine || !m_brightPass || !m_blur) {
        release();
        return false;
    }
    m_settings = settings;
    m_downsample[0] = makeDownsampleMaterial();
    m_downsample[1] = makeDownsampleMaterial();
    m_bloomTexIndex = combineMaterial()->findProperty("bloomTex");
    m_intensityIndex = combineMaterial()->findProperty("intensity");
    m_thresholdIndex = brightPassMaterial()->findProperty("threshold");
    m_alphaMaskIndex = brightPassMaterial()->findProperty("useSrcAlphaMask");
    m_offsetsIndex = blurMaterial()->findProperty("offsets");
    setVector(*blurMaterial(), m_offsetsIndex, 0.0f, 0.0f, 0.0f, 1.0f);
    return true;
}

void BloomEffect::release()
{
    m_settings = {};
    m_combine.reset();
    m_brightPass.reset();
    m_blur.reset();
    m_downsample[0].reset();
    m_downsample[1].reset();
    m_bloomTexIndex = m_intensityIndex = m_thresholdIndex = m_alphaMaskIndex = m_offsetsIndex = 0;
}

bool BloomEffect::apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool)
{
    const i32 width = static_cast<i32>(source->width());
    const i32 height = static_cast<i32>(source->height());
    TargetPtr half = pool.acquire(RenderTargetRequest::colour(width / 2, height / 2));
    TargetPtr q1 = pool.acquire(RenderTargetRequest::colour(width / 4, height / 4));
    TargetPtr q2 = pool.acquire(RenderTargetRequest::colour(width / 4, height / 4));
    TargetPtr q3 = pool.acquire(RenderTargetRequest::colour(width / 4, height / 4));

    setBlitSource(*downsampleMaterial(0), colourTexture(source));
    quads.drawQuad(*half, *downsampleMaterial(0));
    setBlitSource(*downsampleMaterial(1), colourTexture(half));
    quads.drawQuad(*q1, *downsampleMaterial(1));
    pool.release(half);

    // NaN fails the test too and is held like a threshold of 1.
    f32 threshold = m_settings.threshold;
    if (!(1.0f - threshold >= kMinimumHeadroom))
        threshold = 1.0f - kMinimumHeadroom;
    setVector(*brightPassMaterial(), m_thresholdIndex, threshold, 1.0f / (1.0f - threshold), 0.0f, 1.0f);
    setFloat(*brightPassMaterial(), m_alphaMaskIndex, m_settings.alphaMaskWeight);
    quads.blit(q1, *q2, *brightPassMaterial());

    blur(q1, q2, q3, static_cast<f32>(width) / static_cast<f32>(height), quads);

    // The blurred bloom is the combine's main texture, the untouched frame its "bloomTex".
    setFloat(*combineMaterial(), m_intensityIndex, m_settings.intensity);
    setTexture(*combineMaterial(), m_bloomTexIndex, colourTexture(source));
    quads.blit(q1, *destination, *combineMaterial());

    pool.release(q1);
    pool.release(q2);
    pool.release(q3);
    return true;
}

// Each iteration blurs down then across, wider each time; the first reads
// the bright pass, the later ones the previous iteration's result.
void BloomEffect::blur(TargetPtr q1, TargetPtr q2, TargetPtr q3, f32 aspect, QuadRenderer& quads)
{
    GenericMaterial& material = *blurMaterial();
    const i32 iterations = m_settings.blurIterations > 1 ? m_settings.blurIterations : 1;
    for (i32 i = 0; i < iterations; ++i) {
        const f32 spread = (static_cast<f32>(i) * 0.5f + 1.0f) * m_settings.blurSpread;
        setVector(material, m_offsetsIndex, 0.0f, spread / 512.0f, 0.0f, 1.0f);
        quads.blit(i == 0 ? q2 : q1, *q3, material);
        setVector(material, m_offsetsIndex, (1.0f / aspect) * spread / 512.0f, 0.0f, 0.0f, 1.0f);
        quads.blit(q3, *q1, material);
    }
}

} // namespace harmonize
