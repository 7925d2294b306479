#pragma once
// The post effects that turn the rendered scene into the displayed image:
// multisample resolve, brightness, FXAA, bloom, vignette, overlay and the
// present into the letterboxed area of the window. Each is set up at
// pipeline build time (the settings-driven ones from the level's post-effect
// components) and released at teardown; one of each exists per process, in
// postEffects(), with the post-processing targets and the quad renderer.
//
// Set-ups that take a settings component return false, holding nothing, when
// a material the component names was not preloaded: the pipeline then
// builds no pass for that effect.

#include "harmonize/components/Components.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/render/PostEffect.h"
#include "harmonize/render/QuadRenderer.h"

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {
class BlitMaterial;
class BrightnessMaterial;
class GenericMaterial;
} // namespace quern::graphics

namespace harmonize {

class CallbackQuadPass;
class LoadingWorker;

using TargetPtr = quern::graphics::TextureRenderTarget*;

// Copies the multisampled scene target into the destination; the given
// source is not read.
class ResolveEffect final : public PostEffect {
public:
    void setUp(quern::graphics::TextureRenderTarget* sceneTarget);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    quern::graphics::BlitMaterial* material() const { return m_material.get<quern::graphics::BlitMaterial>(); }

private:
    quern::Ref m_material;
    quern::Ref m_sceneTarget;
};

// The Graphics brightness setting as a gamma curve: 100 leaves the image as
// it is, 0 darkens (gamma 0.5), 200 brightens (gamma 1.5).
class BrightnessEffect final : public PostEffect {
public:
    void setUp();
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    quern::graphics::BrightnessMaterial* material() const
    {
        return m_material.get<quern::graphics::BrightnessMaterial>();
    }

private:
    quern::Ref m_material;
};

class FxaaEffect final : public PostEffect {
public:
    bool setUp(const FxaaSettings& settings, LoadingWorker& worker);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    quern::graphics::GenericMaterial* material() const { return m_material.get<quern::graphics::GenericMaterial>(); }

private:
    quern::Ref m_material;
    i32 m_frameBufferIndex = 0;
    i32 m_inverseResolutionIndex = 0;
};

// Bright parts of the image blurred at quarter size and added back.
class BloomEffect final : public PostEffect {
public:
    // The bright pass divides by 1 - threshold: a threshold of 1 or more is
    // held just below 1, at which the scale is 1024.
    static constexpr f32 kMinimumHeadroom = 1.0f / 1024.0f;

    bool setUp(const BloomSettings& settings, LoadingWorker& worker);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    const BloomSettings& settings() const { return m_settings; }
    quern::graphics::GenericMaterial* combineMaterial() const { return generic(m_combine); }
    quern::graphics::GenericMaterial* brightPassMaterial() const { return generic(m_brightPass); }
    quern::graphics::GenericMaterial* blurMaterial() const { return generic(m_blur); }
    quern::graphics::BlitMaterial* downsampleMaterial(int which) const
    {
        return m_downsample[which].get<quern::graphics::BlitMaterial>();
    }

private:
    static quern::graphics::GenericMaterial* generic(const quern::Ref& held)
    {
        return held.get<quern::graphics::GenericMaterial>();
    }
    void blur(TargetPtr q1, TargetPtr q2, TargetPtr q3, f32 aspect, QuadRenderer& quads);

    BloomSettings m_settings {};
    quern::Ref m_combine;
    i32 m_bloomTexIndex = 0;
    i32 m_intensityIndex = 0;
    quern::Ref m_brightPass;
    i32 m_thresholdIndex = 0;
    i32 m_alphaMaskIndex = 0;
    quern::Ref m_blur;
    i32 m_offsetsIndex = 0;
    quern::Ref m_downsample[2];
};

// Darkened, blurred edges (through an optional mask) and chromatic aberration.
class VignetteEffect final : public PostEffect {
public:
    bool setUp(const VignetteSettings& settings, const VignetteMask* mask, LoadingWorker& worker);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    const VignetteSettings& settings() const { return m_settings; }
    quern::graphics::GenericMaterial* vignetteMaterial() const { return m_vignette.get<quern::graphics::GenericMaterial>(); }
    quern::graphics::GenericMaterial* blurMaterial() const { return m_blur.get<quern::graphics::GenericMaterial>(); }
    quern::graphics::GenericMaterial* aberrationMaterial() const
    {
        return m_aberration.get<quern::graphics::GenericMaterial>();
    }
    quern::graphics::BlitMaterial* downsampleMaterial() const
    {
        return m_downsample.get<quern::graphics::BlitMaterial>();
    }

private:
    VignetteSettings m_settings {};
    quern::Ref m_downsample;
    quern::Ref m_vignette;
    i32 m_blurIndex = 0;
    i32 m_intensityIndex = 0;
    i32 m_blurredTexIndex = 0;
    quern::Ref m_blur;
    i32 m_offsetsIndex = 0;
    quern::Ref m_aberration;
    i32 m_aberrationIndex = 0;
    i32 m_texelSizeIndex = 0;
};

// A full-screen texture laid over the image.
class OverlayEffect final : public PostEffect {
public:
    bool setUp(const OverlaySettings& settings, LoadingWorker& worker);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    quern::graphics::GenericMaterial* material() const { return m_material.get<quern::graphics::GenericMaterial>(); }

private:
    quern::Ref m_material;
    i32 m_mainTexIndex = 0;
};

// Draws the finished frame into the output viewport of the window, black
// around it; the destination is not written.
class PresentEffect final : public PostEffect {
public:
    // The window's target is not held: the display owns it.
    void setUp(quern::graphics::TextureRenderTarget* windowTarget);
    void release();
    bool apply(TargetPtr source, TargetPtr destination, QuadRenderer& quads, RenderTargetPool& pool) override;

    quern::graphics::BlitMaterial* material() const { return m_material.get<quern::graphics::BlitMaterial>(); }
    quern::graphics::TextureRenderTarget* windowTarget() const { return m_windowTarget; }
    const ViewportRect& viewport() const { return m_viewport; }

private:
    quern::Ref m_material;
    quern::graphics::TextureRenderTarget* m_windowTarget = nullptr;
    ViewportRect m_viewport { 0, 0, 0, 0 };
};

// What the pipeline builds its effect passes from, one per process.
struct PostEffects {
    ResolveEffect resolve;
    BrightnessEffect brightness;
    FxaaEffect fxaa;
    BloomEffect bloom;
    VignetteEffect vignette;
    OverlayEffect overlay;
    PresentEffect present;
    PostProcessTargets targets;
    QuadRenderer quads;

    // A new pass (no references yet) running `effect` on these targets with
    // this quad renderer.
    CallbackQuadPass* makePass(PostEffect& effect, RenderTargetPool& pool);
    // Every effect lets its materials and targets go, then the quad
    // renderer and the post-processing targets are released.
    void release();
};

PostEffects& postEffects();

} // namespace harmonize
