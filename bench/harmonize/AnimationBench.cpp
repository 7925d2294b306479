// The animation system's fixed tick against the same sampling written by
// hand, in the same run: 1,000 animated entities, each with two active clips
// of ten float tracks driving ten floats of its transform and its child's.
// The hand-written loop makes the same blendFloatTracks calls with the same
// weights and advances the same clip times. The fixed tick runs inline and
// on 8 workers.

#include "support/RatioReporter.h"

#include "harmonize/PreloadedClip.h"
#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;
using quern::animate::KeyframeAnimation;
using quern::animate::KeyframeCursor;

namespace {

constexpr int kEntities = 1000;
constexpr int kTracks = 10;
constexpr u64 kStepMicroseconds = 10'000;
constexpr f32 kStep = 0.01f;
constexpr u64 kWalk = 0x100;
constexpr u64 kWave = 0x200;

// Ten float tracks: the entity's position and scale, its child's position and
// scale x; eight keys each, smooth.
std::string clipSource(f32 phase)
{
    static const char* const kTargets[kTracks][2] = {
        { "-", "m_LocalPosition.x" }, { "-", "m_LocalPosition.y" }, { "-", "m_LocalPosition.z" },
        { "-", "m_LocalScale.x" }, { "-", "m_LocalScale.y" }, { "-", "m_LocalScale.z" },
        { "part", "m_LocalPosition.x" }, { "part", "m_LocalPosition.y" }, { "part", "m_LocalPosition.z" },
        { "part", "m_LocalScale.x" },
    };
    std::string text = "duration 2\nwrap loop\n";
    for (int t = 0; t < kTracks; ++t) {
        text += std::string("track ") + kTargets[t][0] + " " + kTargets[t][1] + "\n";
        for (int k = 0; k <= 8; ++k)
            text += "key " + std::to_string(k * 0.25) + " " + std::to_string(1.0 + 0.1 * t + ((k + t) % 3) * phase)
                + " smooth\n";
    }
    return text;
}

// A level world whose entities play both clips at once: the first by
// autoplay, the second jumped in, so each of the ten bindings blends two.
struct AnimatedLevel {
    explicit AnimatedLevel(TaskDispatcher* dispatcher)
        : scene(2 * kEntities + 8)
    {
        context.services.loadingWorker = &worker;
        context.services.taskDispatcher = dispatcher;
        Settings::Threading.enabled = dispatcher != nullptr;
        hierarchy = new TransformHierarchySystem;
        context.transformHierarchy = hierarchy;
        animation = new AnimationSystem(context);
        context.animation = animation;
        scene.addSystem(hierarchy);
        scene.addSystem(animation);
        testing::preloadClip(worker, kWalk, clipSource(0.5f));
        testing::preloadClip(worker, kWave, clipSource(-0.25f));
        for (int i = 0; i < kEntities; ++i) {
            const EntityHandle e = scene.add("body", { "Transform", "Animation" });
            scene.add("part", { "Transform" }, e);
            Animation& clips = scene.get<Animation>(e);
            clips.clips[0] = clips.defaultClip = kWalk;
            clips.clips[1] = kWave;
            clips.playAutomatically = 1;
            entities.push_back(e);
        }
        scene.world().clock.step = kStepMicroseconds;
        scene.world().attachSystems(nullptr);
        scene.start();
        for (EntityHandle e : entities)
            animation->acquirePlayRequest(e, kWave).type = AnimationTask::JumpToEnd;
        tick();
    }

    void tick()
    {
        scene.world().clock.tickBase = now;
        scene.world().fixedTick(1);
        now += kStepMicroseconds;
    }

    LoadingWorker worker { nullptr, nullptr };
    AppContext context;
    testing::Scenario scene;
    TransformHierarchySystem* hierarchy;
    AnimationSystem* animation;
    std::vector<EntityHandle> entities;
    u64 now = kStepMicroseconds;
};

void BM_AnimationFixedTick(benchmark::State& state)
{
    AnimatedLevel level(nullptr);
    for (auto _ : state)
        level.tick();
    Settings::resetToDefaults();
}
BENCHMARK(BM_AnimationFixedTick)->Unit(benchmark::kMicrosecond);

void BM_AnimationFixedTick8Workers(benchmark::State& state)
{
    TaskDispatcher dispatcher;
    ThreadingSettings threading;
    threading.workers = 8;
    dispatcher.start(threading, 8);
    {
        AnimatedLevel level(&dispatcher);
        for (auto _ : state)
            level.tick();
    }
    dispatcher.stop();
    Settings::resetToDefaults();
}
BENCHMARK(BM_AnimationFixedTick8Workers)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same sampling without the system: per entity, per target, the first
// clip's sample written and the second's blended in, both at weight 0.5.
void BM_BlendFloatTracksByHand(benchmark::State& state)
{
    LoadingWorker worker { nullptr, nullptr };
    const KeyframeAnimation* walk = testing::preloadClip(worker, kWalk, clipSource(0.5f));
    const KeyframeAnimation* wave = testing::preloadClip(worker, kWave, clipSource(-0.25f));
    struct Animated {
        f32 targets[kTracks];
        f32 walkTime = 0.0f;
        f32 waveTime = 2.0f;
        KeyframeCursor walkCursors[kTracks];
        KeyframeCursor waveCursors[kTracks];
    };
    std::vector<Animated> entities(kEntities);
    for (Animated& a : entities)
        for (int t = 0; t < kTracks; ++t) {
            a.targets[t] = 0.0f;
            a.walkCursors[t] = a.waveCursors[t] = KeyframeCursor::empty();
        }
    for (auto _ : state) {
        for (Animated& a : entities) {
            for (u32 t = 0; t < kTracks; ++t) {
                walk->blendFloatTracks(a.walkTime, t, &a.targets[t], 1, a.walkCursors, walk->wrapMode, 0.5f, 0.0f);
                wave->blendFloatTracks(a.waveTime, t, &a.targets[t], 1, a.waveCursors, wave->wrapMode, 0.5f, 1.0f);
            }
            a.walkTime += kStep;
            a.waveTime += kStep;
        }
        benchmark::DoNotOptimize(entities.data());
    }
}
BENCHMARK(BM_BlendFloatTracksByHand)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_AnimationFixedTick") && t.count("BM_BlendFloatTracksByHand"))
        std::printf("animation fixed tick / blendFloatTracks by hand (1,000 entities, 2 clips x 10 tracks): %.2fx the time\n",
            t["BM_AnimationFixedTick"] / t["BM_BlendFloatTracksByHand"]);
    if (t.count("BM_AnimationFixedTick") && t.count("BM_AnimationFixedTick8Workers/real_time"))
        std::printf("animation fixed tick, inline / on 8 workers: %.2fx faster\n",
            t["BM_AnimationFixedTick"] / t["BM_AnimationFixedTick8Workers/real_time"]);
    benchmark::Shutdown();
    return 0;
}
