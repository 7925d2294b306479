#pragma once
// A level world with the player, its two body models (children of the player,
// each with every clip of the animation handler's lists), the transform
// hierarchy, the animation system and the coroutine system, ticked by hand.

#include "runtime/harmonize/systems/AnimationWorld.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/CoroutineSystem.h"

#include <string>
#include <vector>

namespace harmonize::testing {

// Clip asset ids: kind k's clips are 0x100 * k + 1, + 2, ...
constexpr u64 clipAsset(i32 kind, i32 n) { return 0x100u * static_cast<u64>(kind) + static_cast<u64>(n); }
// The name id under which the models find that clip.
inline u64 clipName(i32 kind, i32 n) { return nameIdOf(("clip" + std::to_string(clipAsset(kind, n))).c_str()); }

struct PlayerAnimationWorld : AnimationWorld {
    static constexpr f32 kClipSeconds = 1.0f;
    static constexpr f32 kStep = 0.01f;

    explicit PlayerAnimationWorld(u64 capacity = 32)
        : AnimationWorld(capacity)
    {
        coroutines = new CoroutineSystem(context);
        context.coroutine = coroutines;
        scene.addSystem(coroutines);
        for (i32 kind = 1; kind <= 9; ++kind) {
            for (i32 n = 1; n <= (kind == 1 ? 5 : 2); ++n) {
                clip(clipAsset(kind, n), "duration 1\nwrap loop\ntrack nobody m_LocalPosition.x\nkey 0 0\n");
                assets.push_back(clipAsset(kind, n));
            }
        }
    }

    // The player of `race` with both models (each with a child mesh). The
    // PlayerState's lists hold
    // every clip name, variations off, crossFade 0.1 s.
    void addPlayer(i32 race)
    {
        player = scene.add("player", { "Transform", "Collider", "RigidBody", "PlayerState", "PlayerMovement", "Race" });
        model0 = addModel("model0");
        model2 = addModel("model2");
        scene.get<Race>(player).value = race;
        PlayerState& s = scene.get<PlayerState>(player);
        for (i32 n = 0; n < 5; ++n)
            s.idleClips[n] = clipName(1, n + 1);
        // The stored lists are packed: element by element.
        s.walkClips[0] = clipName(2, 1), s.walkClips[1] = clipName(2, 2);
        s.fallClips[0] = clipName(3, 1), s.fallClips[1] = clipName(3, 2);
        s.jumpClips[0] = clipName(4, 1), s.jumpClips[1] = clipName(4, 2);
        s.landClips[0] = clipName(5, 1), s.landClips[1] = clipName(5, 2);
        s.stopClips[0] = clipName(6, 1), s.stopClips[1] = clipName(6, 2);
        s.airSideClips[0] = clipName(7, 1), s.airSideClips[1] = clipName(7, 2);
        s.kind8Clips[0] = clipName(8, 1), s.kind8Clips[1] = clipName(8, 2);
        s.kind9Clips[0] = clipName(9, 1), s.kind9Clips[1] = clipName(9, 2);
        s.modelRace0 = model0;
        s.modelRace2 = model2;
        s.crossFade = 0.1f;
        s.variationChance = 0;
        s.idleVariationTime = 5.0f;
        s.lastMovementState = 0;
        s.facingCode = 1;
        s.clipTime = 0.0f;
        s.currentClip = 0;
        s.currentKind = 0;
        s.randomState = 1;
        s.restHeightRace2 = -1.0f;
        s.restHeightRace0 = -1.0f;
        PlayerMovement& m = scene.get<PlayerMovement>(player);
        resetMachine(m.movementState, FALLING, FALLING);
        m.gravityDirection = { 0.0f, -1.0f };
    }

    // Starts the world with the model of the player's race shown.
    void startPlayer()
    {
        start();
        const EntityHandle hidden = scene.get<Race>(player).value == 0 ? model2 : model0;
        Transform::setSubtreeActive(transform(hidden), false, world(), *hierarchy);
    }

    EntityHandle addModel(const char* name)
    {
        const EntityHandle model = scene.add(name, { "Transform", "Animation" }, player);
        Animation& record = scene.get<Animation>(model);
        for (u64 slot = 0; slot < assets.size(); ++slot)
            record.clips[slot] = assets[slot];
        record.defaultClip = 0;
        record.playAutomatically = 0;
        scene.add((std::string(name) + "-mesh").c_str(), { "Transform", "Renderer" }, model);
        return model;
    }

    PlayerView view()
    {
        PlayerView v;
        findPlayerView(world(), player, v);
        return v;
    }
    PlayerState& state() { return scene.get<PlayerState>(player); }
    PlayerMovement& movement() { return scene.get<PlayerMovement>(player); }

    // Ticks the world and tells whether both models now play the clip.
    bool modelsPlay(u64 asset)
    {
        tick();
        return animation->isPlaying(model0, asset) && animation->isPlaying(model2, asset);
    }

    CoroutineSystem* coroutines;
    std::vector<u64> assets;
    EntityHandle player, model0, model2;
};

} // namespace harmonize::testing
