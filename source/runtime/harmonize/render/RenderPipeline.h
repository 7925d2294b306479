#pragma once
// The game's frame layout: one pass list that draws the level world, its post
// effects, the front-end world and the debug passes. The App builds it when a
// level starts and after a resolution change, destroys it before either and
// at shutdown, and renders it once per frame.

#include "quern/Types.h"
#include "quern/entity/EntityHandle.h"

namespace quern::bullet {
class BulletPass;
}
namespace quern::entity {
class World;
}
namespace quern::fx {
class ShadowMapRenderPass;
}
namespace quern::graphics {
class Display;
}
namespace quern::render {
class BoundingVolumePass;
class PassList;
} // namespace quern::render

namespace harmonize {

struct AppContext;
class CallbackQuadPass;
class EntityScenePass;
class OverlayBatch;
class LoadingWorker;
class RenderTargetPool;

// What the build keeps between a build and the next teardown, one per
// process. The pointers hold no references: the pass list does.
struct RenderPipeline {
    CallbackQuadPass* fxaaPass = nullptr;
    CallbackQuadPass* bloomPass = nullptr;
    CallbackQuadPass* vignettePass = nullptr;
    CallbackQuadPass* overlayPass = nullptr;
    quern::fx::ShadowMapRenderPass* shadowPass = nullptr;
    quern::render::BoundingVolumePass* boundingVolumePass = nullptr;
    EntityScenePass* menuPass = nullptr;
    quern::bullet::BulletPass* physicsPass = nullptr;
    // The level context's overlay, whose HUD pass is in the list.
    OverlayBatch* overlayBatch = nullptr;
};

RenderPipeline& renderPipeline();

void buildRenderPasses(quern::render::PassList& passes, RenderTargetPool& targetPool, AppContext& levelContext,
    AppContext* frontEndContext, quern::graphics::Display& display, quern::entity::World& levelWorld,
    LoadingWorker& loadingWorker);
void destroyRenderPasses(quern::render::PassList& passes);
void renderFrame(quern::render::PassList& passes, quern::graphics::Display& display, bool menuShown);

// The last entity with a game camera rig, else the last with a camera lens;
// the null handle when there is neither.
quern::entity::EntityHandle findPostEffectSettingsEntity(quern::entity::World& world);

} // namespace harmonize
