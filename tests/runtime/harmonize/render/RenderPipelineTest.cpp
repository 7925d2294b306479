// The game's frame layout on the null device: which passes a level's
// settings components and the Renderer settings build, in which order, what
// the frame switches on and off, and what the teardown leaves.

#include "harmonize/render/RenderPipeline.h"

#include "harmonize/collision/CollisionSystem.h"
#include "quern/bullet/BulletPass.h"

#include "harmonize/Settings.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/QuadPasses.h"
#include "harmonize/render/RenderTargetPool.h"

#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/render/BoundingVolumePass.h"
#include "quern/render/Gizmos.h"
#include "quern/render/PassList.h"

#include "runtime/harmonize/systems/RenderWorld.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::graphics::TextureRenderTarget;

constexpr u64 kFxaa = 0xF0A1, kBlur = 0xB1, kCombine = 0xC0, kBright = 0xB2, kVignette = 0x71, kAberration = 0xAB,
              kOverlay = 0x0F;

class RenderPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_renderer = Settings::Renderer;
        m_graphics = Settings::Graphics;
        display = new quern::graphics::NullDisplay();
        quern::graphics::Display::set(display);
        quern::graphics::DisplayMode mode;
        mode.width = mode.drawableWidth = 1280;
        mode.height = mode.drawableHeight = 800;
        display->openWithVideoMode(mode, display->defaultConfiguration());
        processDisplaySize() = { 1280, 800 };
        pool = std::make_unique<RenderTargetPool>(*display);
        w = std::make_unique<testing::RenderWorld>();
        level.render = w->render;
        level.gizmos = quern::Ref(new quern::render::Gizmos());
        for (u64 id : { kFxaa, kBlur, kCombine, kBright, kVignette, kAberration, kOverlay })
            w->preloadMaterial(id);
    }
    void TearDown() override
    {
        destroyRenderPasses(passes);
        level.shadowPass = nullptr;
        w.reset();
        pool.reset();
        quern::graphics::Display::set(nullptr);
        processDisplaySize() = {};
        Settings::Renderer = m_renderer;
        Settings::Graphics = m_graphics;
        Settings::Test.test = false;
    }

    // The level's camera, carrying every post-effect settings component.
    EntityHandle addCameraWithEffects()
    {
        const EntityHandle camera = w->scene.add("camera",
            { "Transform", "CameraLens", "GameCameraRig", "FxaaSettings", "BloomSettings", "VignetteSettings",
                "OverlaySettings" });
        w->scene.get<CameraLens>(camera).farPlane = 100.0f;
        w->scene.get<CameraLens>(camera).nearPlane = 0.1f;
        w->scene.get<CameraLens>(camera).fieldOfView = 40.0f;
        w->scene.get<FxaaSettings>(camera).material = kFxaa;
        BloomSettings& bloom = w->scene.get<BloomSettings>(camera);
        bloom.blurMaterial = kBlur;
        bloom.combineMaterial = kCombine;
        bloom.brightPassMaterial = kBright;
        bloom.threshold = 0.8f;
        VignetteSettings& vignette = w->scene.get<VignetteSettings>(camera);
        vignette.vignetteMaterial = kVignette;
        vignette.blurMaterial = kBlur;
        vignette.aberrationMaterial = kAberration;
        w->scene.get<OverlaySettings>(camera).material = kOverlay;
        return camera;
    }

    void build()
    {
        w->start();
        buildRenderPasses(passes, *pool, level, nullptr, *display, w->world(), w->worker);
    }

    // The passes by name, effects by what they run.
    std::vector<std::string> passNames() const
    {
        PostEffects& fx = postEffects();
        const std::pair<const PostEffect*, const char*> effects[] = { { &fx.resolve, "resolve" },
            { &fx.brightness, "brightness" }, { &fx.fxaa, "fxaa" }, { &fx.bloom, "bloom" },
            { &fx.vignette, "vignette" }, { &fx.overlay, "overlay" }, { &fx.present, "present" } };
        std::vector<std::string> names;
        for (u64 i = 0; i < passes.passCount(); ++i) {
            quern::render::RenderPass* pass = passes.pass(i);
            std::string name = pass->name();
            if (auto* quad = dynamic_cast<CallbackQuadPass*>(pass))
                for (const auto& [effect, effectName] : effects)
                    if (&quad->effect() == effect)
                        name = effectName;
            if (dynamic_cast<quern::fx::ShadowMapRenderPass*>(pass))
                name = "shadow";
            if (dynamic_cast<quern::render::Gizmos*>(pass))
                name = "gizmos";
            if (dynamic_cast<quern::render::BoundingVolumePass*>(pass))
                name = "volumes";
            if (dynamic_cast<quern::bullet::BulletPass*>(pass))
                name = "physics";
            names.push_back(name);
        }
        return names;
    }

    quern::graphics::NullDisplay* display = nullptr;
    std::unique_ptr<RenderTargetPool> pool;
    std::unique_ptr<testing::RenderWorld> w;
    AppContext level;
    quern::render::PassList passes;

private:
    RendererSettings m_renderer;
    GraphicsSettings m_graphics;
};

TEST_F(RenderPipelineTest, EveryEffectAndShadowsGiveTheFullOrder)
{
    Settings::Renderer.renderShadows = true;
    Settings::Graphics.multisamples = 4;
    display->getCapabilities()->maxSamples = 2;
    addCameraWithEffects();
    build();

    EXPECT_EQ(passNames(),
        (std::vector<std::string> { "shadow", "Level", "resolve", "brightness", "fxaa", "bloom", "vignette", "overlay",
            "present", "AfterPost", "gizmos", "volumes" }));
    PostEffects& fx = postEffects();
    auto* scene = w->render->pass(0)->output();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->texture(0)->pixelBuffer()->format().layerCount, 2) << "the scene is multisampled, at most 2";
    EXPECT_NE(fx.targets.first.get<TextureRenderTarget>(), scene) << "the resolve writes a target of its own";
    EXPECT_EQ(scene->width(), 1280u);
    EXPECT_EQ(scene->height(), 720u);
    ASSERT_NE(renderPipeline().shadowPass, nullptr);
    EXPECT_EQ(level.shadowPass, renderPipeline().shadowPass) << "the level's lighting drives its light";
    EXPECT_NE(renderPipeline().shadowPass->findDepthTarget(), nullptr);
}

TEST_F(RenderPipelineTest, ThePhysicsWorldIsDrawnOverTheLevelOnlyWhenAskedFor)
{
    auto* collision = new CollisionSystem(level);
    level.collision = collision;
    w->scene.addSystem(collision);
    build();
    EXPECT_EQ(passNames(),
        (std::vector<std::string> { "Level", "brightness", "present", "AfterPost", "physics", "gizmos", "volumes" }));
    quern::bullet::BulletPass* physics = renderPipeline().physicsPass;
    ASSERT_NE(physics, nullptr);
    EXPECT_EQ(physics->camera(), w->render->currentCamera());

    for (bool on : { true, false }) {
        Settings::Renderer.renderPhysics = on;
        renderFrame(passes, *display, false);
        EXPECT_EQ(physics->enabled, on ? 1 : 0);
    }
}

TEST_F(RenderPipelineTest, WithoutMultisamplingTheSceneIsTheFirstTargetAndThereIsNoResolve)
{
    addCameraWithEffects();
    w->start();
    for (i32 samples : { 1, 0 }) {
        SCOPED_TRACE(samples);
        Settings::Graphics.multisamples = samples;
        buildRenderPasses(passes, *pool, level, nullptr, *display, w->world(), w->worker);
        const std::vector<std::string> names = passNames();
        EXPECT_EQ(std::count(names.begin(), names.end(), "resolve"), 0);
        EXPECT_EQ(postEffects().targets.first.get<TextureRenderTarget>(), w->render->pass(0)->output());
        destroyRenderPasses(passes);
    }
}

TEST_F(RenderPipelineTest, QualityDropsTheVignetteAndThenTheBloomAndLimitsTextures)
{
    struct Case {
        i32 quality;
        bool vignette, bloom;
    };
    addCameraWithEffects();
    w->start();
    for (const Case& c : { Case { 0, true, true }, Case { -1, false, true }, Case { -2, false, false },
             Case { 3, false, true } }) {
        SCOPED_TRACE(c.quality);
        Settings::Renderer.quality = c.quality;
        buildRenderPasses(passes, *pool, level, nullptr, *display, w->world(), w->worker);
        const std::vector<std::string> names = passNames();
        EXPECT_EQ(std::count(names.begin(), names.end(), "vignette"), c.vignette ? 1 : 0);
        EXPECT_EQ(std::count(names.begin(), names.end(), "bloom"), c.bloom ? 1 : 0);
        EXPECT_EQ(std::count(names.begin(), names.end(), "fxaa"), 1);
        EXPECT_EQ(std::count(names.begin(), names.end(), "overlay"), 1);
        destroyRenderPasses(passes);
    }
}

TEST_F(RenderPipelineTest, AnEffectWhoseMaterialWasNotPreloadedIsLeftOut)
{
    const EntityHandle camera = addCameraWithEffects();
    w->scene.get<BloomSettings>(camera).combineMaterial = 0xDEAD;
    quern::testing::LogCapture log(1);
    build();
    const std::vector<std::string> names = passNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "bloom"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "fxaa"), 1);
    EXPECT_NE(log.text().find("dead"), std::string::npos) << log.text();
}

TEST_F(RenderPipelineTest, ALevelWithoutSettingsGetsOnlyBrightnessAndPresent)
{
    w->scene.add("camera", { "Transform", "CameraLens" });
    build();
    EXPECT_EQ(passNames(),
        (std::vector<std::string> { "Level", "brightness", "present", "AfterPost", "gizmos", "volumes" }));
}

TEST_F(RenderPipelineTest, TheFrameSwitchesPassesFromTheSettingsAndRecordsOnlyAfterAChange)
{
    Settings::Renderer.renderShadows = true;
    addCameraWithEffects();
    build();
    RenderPipeline& pipeline = renderPipeline();
    renderFrame(passes, *display, false);
    EXPECT_EQ(passes.compiled, 1);
    EXPECT_EQ(pipeline.boundingVolumePass->enabled, 0) << "off by default";
    EXPECT_EQ(pipeline.bloomPass->enabled, 1);

    Settings::Renderer.renderBloom = false;
    renderFrame(passes, *display, false);
    EXPECT_EQ(pipeline.bloomPass->enabled, 0);
    const u64 recorded = passes.commandList().count();

    renderFrame(passes, *display, false);
    EXPECT_EQ(passes.commandList().count(), recorded) << "nothing changed: the compiled list is kept";
    EXPECT_EQ(passes.compiled, 1);

    Settings::Renderer.renderBloom = true;
    Settings::Renderer.renderShadows = false;
    renderFrame(passes, *display, false);
    EXPECT_EQ(pipeline.bloomPass->enabled, 1);
    EXPECT_EQ(pipeline.shadowPass->enabled, 0);
}

TEST_F(RenderPipelineTest, OnlyTheEnabledEffectsRunAndEachSwapsTheTargets)
{
    addCameraWithEffects();
    build();
    PostEffects& fx = postEffects();
    auto* first = fx.targets.first.get<TextureRenderTarget>();
    // Brightness and present always run; each effect that runs swaps source
    // and destination, so the parity of the count shows where the frame ends.
    for (bool bloomOn : { false, true }) {
        SCOPED_TRACE(bloomOn);
        Settings::Renderer.antiAliasEnabled = false;
        Settings::Renderer.renderBloom = bloomOn;
        Settings::Renderer.renderVignette = false;
        Settings::Renderer.renderOverlay = false;
        renderFrame(passes, *display, false);
        EXPECT_EQ(fx.targets.source == first, !bloomOn);
    }
}

TEST_F(RenderPipelineTest, TeardownEmptiesTheListAndReleasesTheEffects)
{
    Settings::Renderer.renderShadows = true;
    addCameraWithEffects();
    build();
    destroyRenderPasses(passes);
    EXPECT_EQ(passes.passCount(), 0u);
    EXPECT_EQ(passes.compiled, 0);
    EXPECT_EQ(renderPipeline().shadowPass, nullptr);
    EXPECT_EQ(renderPipeline().bloomPass, nullptr);
    EXPECT_EQ(postEffects().targets.first.get<TextureRenderTarget>(), nullptr);
    EXPECT_EQ(postEffects().bloom.combineMaterial(), nullptr);
    EXPECT_EQ(w->render->pass(0)->output(), nullptr) << "the level pass survives without its target";
    // A second build on the same passes works as the first did.
    buildRenderPasses(passes, *pool, level, nullptr, *display, w->world(), w->worker);
    EXPECT_NE(w->render->pass(0)->output(), nullptr);
}

TEST_F(RenderPipelineTest, TheSettingsEntityIsTheLastGameCameraElseTheLastLens)
{
    const EntityHandle lensA = w->scene.add("lensA", { "Transform", "CameraLens" });
    const EntityHandle rig = w->scene.add("rig", { "Transform", "CameraLens", "GameCameraRig" });
    const EntityHandle lensB = w->scene.add("lensB", { "Transform", "CameraLens" });
    w->start();
    EXPECT_EQ(findPostEffectSettingsEntity(w->world()), rig);
    w->world().getEnabledMask(rig.index()) = {};
    EXPECT_EQ(findPostEffectSettingsEntity(w->world()), lensB);
    w->world().getEnabledMask(lensB.index()) = {};
    EXPECT_EQ(findPostEffectSettingsEntity(w->world()), lensA);
    w->world().getEnabledMask(lensA.index()) = {};
    EXPECT_EQ(findPostEffectSettingsEntity(w->world()).value, 0u);
}

// A pass that divides by zero while it records.
class DividingPass final : public quern::render::RenderPass {
public:
    void recordCommands(quern::render::RenderCommandList&) override { result = one / zero; }
    volatile f32 one = 1.0f, zero = 0.0f, result = 0.0f;
};

TEST_F(RenderPipelineTest, InTestModeTheFrameRunsWithTrapsMaskedAndEndsWithThemOnAndNothingPending)
{
    addCameraWithEffects();
    build();
    passes.addPass(new DividingPass());
    EXPECT_EXIT(
        {
            Settings::Test.test = true;
            quern::platform::enableFloatingPointTraps();
            renderFrame(passes, *display, false);
            std::exit(quern::platform::floatingPointTrapsEnabled() && std::fetestexcept(FE_ALL_EXCEPT) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace harmonize
