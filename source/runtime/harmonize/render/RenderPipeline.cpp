#include "harmonize/render/RenderPipeline.h"

#include "harmonize/hud/HudRenderPass.h"
#include "harmonize/hud/OverlayBatch.h"

#include "harmonize/Settings.h"
#include "harmonize/collision/CollisionSystem.h"
#include "harmonize/components/Components.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/render/PostEffects.h"
#include "harmonize/render/QuadPasses.h"
#include "harmonize/render/RenderTargetPool.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/RenderSystem.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/entity/World.h"
#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/render/BoundingVolumePass.h"
#include "quern/bullet/BulletPass.h"
#include "quern/render/Gizmos.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Light.h"
#include "quern/debug/Log.h"

#include <BulletDynamics/Dynamics/btDiscreteDynamicsWorld.h>
#include <algorithm>

namespace harmonize {
namespace {

using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::TextureRenderTarget;

constexpr u32 kShadowMapSize = 1024;
constexpr u32 kGameCameraRigType = 36;

PixelFormat depthFormat(u32 bits)
{
    return PixelFormat::fromOneChannel(Channel { ChannelContent::D, ChannelType::Unsigned, bits, 0, 0 }, 0);
}

// A 2D description with its row pitch and data size computed; `samples` goes
// where the device reads a multisampled image's sample count.
PixelBufferFormat targetFormat(u32 width, u32 height, const PixelFormat& pixels, i32 samples)
{
    PixelBufferFormat format = PixelBufferFormat::create2D(width, height, pixels);
    format.layerCount = samples;
    return format;
}

TextureRenderTarget* createTarget(const PixelBufferFormat* formats, u64 count, quern::graphics::Display& display)
{
    return TextureRenderTarget::createTextureRenderTarget({ formats, count }, display);
}

// The texture limit of the DDS handler for textures loaded from here on.
void applyTextureLimit()
{
    quern::assets::AssetHandlerRegistry* registry = quern::assets::AssetHandlerRegistry::instance();
    if (!registry)
        return;
    for (u64 i = 0; i < registry->count(); ++i)
        if (auto* handler = dynamic_cast<quern::graphics::PixelBufferHandler*>(registry->at(i)))
            handler->setMaxPixels(quern::graphics::textureMaxPixels(Settings::Renderer.quality,
                static_cast<u32>(std::max(Settings::Renderer.maxMipmapSize, 0)), handler->maxPixels()));
}

bool validHandle(EntityHandle handle) { return handle.index() != 0xFFFF && handle.generation() != 0; }

// Sets the pass's flag; a change makes the owner record again.
template <class Pass> void setEnabled(Pass* pass, bool on)
{
    if (!pass)
        return;
    const u8 wanted = on ? 1 : 0;
    if (pass->enabled != wanted) {
        pass->enabled = wanted;
        pass->invalidate();
    }
}

} // namespace

RenderPipeline& renderPipeline()
{
    static RenderPipeline pipeline;
    return pipeline;
}

EntityHandle findPostEffectSettingsEntity(quern::entity::World& world)
{
    const u64 slots = world.getSlotCount();
    for (u32 type : { kGameCameraRigType, static_cast<u32>(CameraLens::kType) })
        for (u64 i = slots; i-- > 0;)
            if (world.getEnabledMask(i).test(type))
                return EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
    return EntityHandle {};
}


void buildRenderPasses(quern::render::PassList& passes, RenderTargetPool& targetPool, AppContext& levelContext,
    AppContext* frontEndContext, quern::graphics::Display& display, quern::entity::World& levelWorld,
    LoadingWorker& loadingWorker)
{
    RenderPipeline& pipeline = renderPipeline();
    PostEffects& effects = postEffects();
    RenderSystem& render = *levelContext.render;

    // Targets: the scene (multisampled when asked and possible), then the
    // two frame-sized targets the effects ping-pong between.
    const i32 wanted = Settings::Graphics.multisamples;
    const quern::graphics::DisplayCaps* caps = display.getCapabilities();
    const i32 maxSamples = caps ? static_cast<i32>(caps->maxSamples) : 1;
    const i32 samples = wanted > 0 ? std::max(std::min(wanted, maxSamples), 1) : 1;
    const FrameSize frame = computeFrameTargetSize();
    const u32 width = static_cast<u32>(std::max(frame.width, 1));
    const u32 height = static_cast<u32>(std::max(frame.height, 1));
    const PixelFormat& colour = Settings::Renderer.antiAliasEnabled ? PixelFormat::R8G8B8A8 : PixelFormat::B8G8R8;
    const u32 depthBits = Settings::Graphics.depthBits != 0 ? static_cast<u32>(Settings::Graphics.depthBits) : 32;
    const PixelBufferFormat sceneFormats[] = {
        targetFormat(width, height, colour, samples),
        targetFormat(width, height, depthFormat(depthBits), samples),
    };
    const PixelBufferFormat postFormat = targetFormat(width, height, colour, 1);
    const quern::Ref scene(createTarget(sceneFormats, 2, display));
    auto* sceneTarget = scene.get<TextureRenderTarget>();
    const quern::Ref first(samples >= 2 ? createTarget(&postFormat, 1, display) : sceneTarget);
    const quern::Ref second(createTarget(&postFormat, 1, display));
    effects.targets.set(first.get<TextureRenderTarget>(), second.get<TextureRenderTarget>());

    if (Settings::Renderer.renderShadows) {
        auto* shadow = new quern::fx::ShadowMapRenderPass();
        shadow->caster().setLight(new quern::scene::Light());
        // The pass's own caster culler walks a scene root; the level's casters
        // are the render system's nodes. Deleted again at teardown.
        shadow->culler = new ShadowCasterCuller(*render.pass(0));
        const PixelBufferFormat shadowFormats[] = {
            targetFormat(kShadowMapSize, kShadowMapSize, PixelFormat::B8G8R8, 0),
            targetFormat(kShadowMapSize, kShadowMapSize, depthFormat(0), 0),
        };
        const quern::Ref map(createTarget(shadowFormats, 2, display));
        shadow->setOutput(map.get<TextureRenderTarget>());
        passes.addPass(shadow);
        pipeline.shadowPass = shadow;
        levelContext.shadowPass = shadow;
    }

    EntityScenePass& level = *render.pass(0);
    level.setOutput(sceneTarget);
    level.setName("Level");
    passes.addPass(&level);

    // The level's look: the post-effect components of its settings entity.
    const EntityHandle settingsEntity = findPostEffectSettingsEntity(levelWorld);
    auto component = [&](u32 type) -> const void* {
        if (!validHandle(settingsEntity) || !levelWorld.getComponentMask(settingsEntity.index()).test(type))
            return nullptr;
        return levelWorld.getComponent(settingsEntity.index(), type);
    };
    const auto* fxaa = static_cast<const FxaaSettings*>(component(FxaaSettings::kType));
    const auto* bloom = Settings::Renderer.quality == -2
        ? nullptr
        : static_cast<const BloomSettings*>(component(BloomSettings::kType));
    const auto* vignette = Settings::Renderer.quality != 0
        ? nullptr
        : static_cast<const VignetteSettings*>(component(VignetteSettings::kType));
    const auto* mask = static_cast<const VignetteMask*>(component(VignetteMask::kType));
    const auto* overlay = static_cast<const OverlaySettings*>(component(OverlaySettings::kType));

    effects.quads.init(quern::render::RenderQueue::create(), display);
    auto addEffect = [&](PostEffect& effect) {
        CallbackQuadPass* pass = effects.makePass(effect, targetPool);
        passes.addPass(pass);
        return pass;
    };
    if (samples >= 2) {
        effects.resolve.setUp(sceneTarget);
        addEffect(effects.resolve);
    }
    effects.brightness.setUp();
    addEffect(effects.brightness);
    // A settings component whose materials were not preloaded leaves its
    // effect out (the set-up names the missing asset).
    if (fxaa && effects.fxaa.setUp(*fxaa, loadingWorker))
        pipeline.fxaaPass = addEffect(effects.fxaa);
    if (bloom && effects.bloom.setUp(*bloom, loadingWorker))
        pipeline.bloomPass = addEffect(effects.bloom);
    if (vignette && effects.vignette.setUp(*vignette, mask, loadingWorker))
        pipeline.vignettePass = addEffect(effects.vignette);
    if (overlay && effects.overlay.setUp(*overlay, loadingWorker))
        pipeline.overlayPass = addEffect(effects.overlay);
    quern::graphics::DisplayContext& context = display.context();
    if (!context.windowRenderTarget)
        context.windowRenderTarget = display.backEnd()->createWindowRenderTarget();
    effects.present.setUp(context.windowRenderTarget);
    addEffect(effects.present);

    EntityScenePass& afterPost = *render.pass(1);
    afterPost.setName("AfterPost");
    passes.addPass(&afterPost);

    if (levelContext.overlay) {
        passes.addPass(levelContext.overlay->pass());
        pipeline.overlayBatch = levelContext.overlay;
    }

    if (frontEndContext && frontEndContext->render) {
        EntityScenePass& menu = *frontEndContext->render->pass(0);
        const ViewportRect viewport = computeOutputViewport();
        menu.viewport[0] = viewport.x;
        menu.viewport[1] = viewport.y;
        menu.viewport[2] = viewport.width;
        menu.viewport[3] = viewport.height;
        if (menu.enabled) {
            menu.enabled = 0;
            menu.invalidate();
        }
        menu.setName("Menu");
        passes.addPass(&menu);
        pipeline.menuPass = &menu;
    }

    // The level's physics world, drawn as lines when "renderPhysics" is on.
    if (levelContext.collision && levelContext.collision->dynamicsWorld()) {
        auto* physics = new quern::bullet::BulletPass(levelContext.collision->dynamicsWorld());
        physics->setCamera(render.currentCamera());
        passes.addPass(physics);
        pipeline.physicsPass = physics;
    }

    passes.enableStatistics();
    if (auto* gizmos = levelContext.gizmos.get<quern::render::Gizmos>()) {
        gizmos->setCamera(render.currentCamera());
        passes.addPass(gizmos);
    }
    auto* volumes = new quern::render::BoundingVolumePass();
    volumes->setCamera(render.currentCamera());
    volumes->drawBoxes = 0;
    volumes->drawSpheres = 1;
    volumes->cullFirst = 0;
    passes.addPass(volumes);
    pipeline.boundingVolumePass = volumes;

    applyTextureLimit();
}

void destroyRenderPasses(quern::render::PassList& passes)
{
    RenderPipeline& pipeline = renderPipeline();
    if (pipeline.shadowPass) {
        delete pipeline.shadowPass->culler;
        pipeline.shadowPass->culler = nullptr;
    }
    OverlayBatch* overlay = pipeline.overlayBatch;
    pipeline = RenderPipeline {};
    postEffects().release();
    for (u64 i = 0; i < passes.passCount(); ++i)
        passes.pass(i)->setOutput(nullptr);
    passes.clearPasses();
    if (overlay)
        overlay->clearLists();
}

void renderFrame(quern::render::PassList& passes, quern::graphics::Display& display, bool menuShown)
{
    RenderPipeline& pipeline = renderPipeline();
    const auto& renderer = Settings::Renderer;
    setEnabled(pipeline.physicsPass, renderer.renderPhysics);
    setEnabled(pipeline.menuPass, menuShown);
    setEnabled(pipeline.fxaaPass, renderer.antiAliasEnabled);
    setEnabled(pipeline.bloomPass, renderer.renderBloom);
    setEnabled(pipeline.vignettePass, renderer.renderVignette);
    setEnabled(pipeline.overlayPass, renderer.renderOverlay);
    setEnabled(pipeline.boundingVolumePass, renderer.renderBoundingSpheres);
    setEnabled(pipeline.shadowPass, renderer.renderShadows);
    postEffects().targets.reset();

    // Drivers and the effects' arithmetic may raise what the game traps
    // elsewhere; the frame runs masked and leaves no flag behind.
    const bool trapped = Settings::Test.test || Settings::Development.floatExceptions;
    if (trapped)
        quern::platform::maskFloatingPointTraps();
    if (pipeline.overlayBatch)
        pipeline.overlayBatch->endFrame();
    passes.renderFrame(display);
    if (trapped)
        quern::platform::enableFloatingPointTraps();
}

} // namespace harmonize
