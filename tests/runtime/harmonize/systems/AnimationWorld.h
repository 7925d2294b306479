#pragma once
// A game world with the transform hierarchy and the animation system, a
// loading worker whose cache holds the clips the level preloaded
// (PreloadedClip.h), and the clock driven by hand.

#include "harmonize/PreloadedClip.h"
#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AnimationSystem.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <string>

namespace harmonize::testing {

inline u64 nameIdOf(const char* text)
{
    return quern::strings::murmurHash64A(text, std::strlen(text), quern::strings::kInternerSeed);
}

struct AnimationWorld {
    static constexpr u64 kTickStep = 10'000; // microseconds

    explicit AnimationWorld(u64 capacity = 32, TaskDispatcher* dispatcher = nullptr)
        : scene(capacity)
    {
        Settings::resetToDefaults();
        Settings::Threading.enabled = dispatcher != nullptr;
        context.services.loadingWorker = &worker;
        context.services.taskDispatcher = dispatcher;
        hierarchy = new TransformHierarchySystem;
        context.transformHierarchy = hierarchy;
        animation = new AnimationSystem(context);
        context.animation = animation;
        scene.addSystem(hierarchy);
        scene.addSystem(animation);
        world().clock.step = kTickStep;
    }
    ~AnimationWorld() { Settings::resetToDefaults(); }

    quern::entity::World& world() { return scene.world(); }

    quern::animate::KeyframeAnimation* clip(u64 assetId, const std::string& source)
    {
        return preloadClip(worker, assetId, source);
    }

    // An entity with an Animation component whose clip slots hold `clips` in
    // order; the first plays at once when `autoplay` is set.
    EntityHandle addAnimated(const char* name, std::initializer_list<u64> clips, bool autoplay = true,
        EntityHandle parent = {})
    {
        const EntityHandle e = scene.add(name, { "Transform", "Animation" }, parent);
        Animation& record = scene.get<Animation>(e);
        u64 slot = 0;
        for (u64 id : clips)
            record.clips[slot++] = id;
        record.defaultClip = clips.size() ? *clips.begin() : 0;
        record.playAutomatically = autoplay ? 1 : 0;
        return e;
    }

    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }

    // Fixed ticks of kTickStep each, the world clock moving on by one step per tick.
    void tick(u32 count = 1)
    {
        for (u32 i = 0; i < count; ++i) {
            world().clock.tickBase = now;
            world().fixedTick(1);
            now += kTickStep;
        }
    }
    // One frame's update lasting `seconds`.
    void update(f32 seconds)
    {
        world().clock.deltaSeconds = seconds;
        world().variableUpdate(now);
    }

    Transform& transform(EntityHandle e) { return scene.get<Transform>(e); }
    const AnimationClip& clipRecord(u64 index) const { return animation->clips().at<AnimationClip>(index); }

    u64 now = kTickStep; // microseconds: the next tick's world clock
    LoadingWorker worker { nullptr, nullptr };
    AppContext context;
    Scenario scene;
    TransformHierarchySystem* hierarchy;
    AnimationSystem* animation;
};

} // namespace harmonize::testing
