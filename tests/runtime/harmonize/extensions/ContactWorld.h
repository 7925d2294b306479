#pragma once
// A level world for the contact rules: the player with its two body models,
// the animation, coroutine and transform systems, and a sound system that
// keeps its requests queued so that tests can read them. Pairs are handed to
// the rules directly, as the dispatcher would.

#include "PlayerAnimationWorld.h"

#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/ContactRules.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/entity/World.h"

namespace harmonize::testing {

struct ContactWorld : PlayerAnimationWorld {
    explicit ContactWorld(i32 race = 0)
    {
        sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);
        context.sound = sound;
        scene.addSystem(sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
        addPlayer(race);
    }

    // The pair as the collision system may report it: either way round.
    static PairEvent pair(EntityHandle a, EntityHandle b) { return PairEvent { a.value, b.value }; }

    // Entities whose slots are in use: clones made by a rule show up here.
    u64 liveEntityCount()
    {
        u64 count = 0;
        for (u64 i = 0; i < world().getSlotCount(); ++i)
            count += isAliveEntity(world(), EntityHandle::make(static_cast<quern::u16>(i), world().getGeneration(i)));
        return count;
    }
    u64 coroutineCount() { return coroutines->fixedTickList().count(); }
    template <class Record> Record& get(EntityHandle entity) { return scene.get<Record>(entity); }
    bool enabled(EntityHandle entity, u32 type) { return world().getEnabledMask(entity.index()).test(type); }

    SoundSystem* sound;
};

} // namespace harmonize::testing
