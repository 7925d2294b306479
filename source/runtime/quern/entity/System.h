#pragma once
// The interface of game logic: a World holds its systems in registration order,
// tells them about entity lifecycle changes and drives them every frame.

#include "quern/Types.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/EntityHandle.h"

namespace quern::memory {
class Allocator;
}

namespace quern::entity {

class World;

// The world as a system sees it during one fixed tick or update. Rebuilt for
// every call; `slotCount` is refreshed after each system because systems may
// create entities.
struct UpdateContext {
    u8* store;
    EntityState* states;
    u16* generations;
    ComponentMask* enabledMasks;
    ComponentMask* componentMasks;
    World* world;
    u64 slotCount;
    u64 storeSize;
};

// How a system describes itself, with the per-frame limits the World applies
// and the statistics it keeps.
struct alignas(16) SystemInfo {
    static constexpr i32 kDisabled = 3;
    static constexpr i32 kDefaultTimeLimit = 1'000'000;

    const char* name;
    i32 kind; // 0, 1 or 2; stored, not acted on
    i32 state; // kDisabled: no fixed ticks or updates, still late updates
    f32 tickInterval; // seconds; stored, every system ticks at the world's step
    i32 timeLimit; // microseconds of fixedTick per frame
    i32 tickLimit; // fixed ticks per frame, 0 = none
    f32 timeScale; // stored, not used by the World
    u64 frameTime; // microseconds spent in fixedTick this frame (when timeLimit > 0)
    u32 frameTicks; // fixedTick calls this frame
    bool limitReached; // a limit stopped the system this frame
};

class System {
public:
    virtual ~System();
    // Entities the systems had not been told about.
    virtual void entitiesCreated(const EntityHandle* handles, u64 count, World& world, memory::Allocator* allocator);
    virtual void entitiesActivated(const EntityHandle* handles, u64 count, World& world);
    virtual void entitiesDeactivated(const EntityHandle* handles, u64 count, World& world);
    virtual void entitiesDestroyed(const EntityHandle* handles, u64 count, World& world, memory::Allocator* allocator);
    // The world's level allocator, before a level is loaded into the world.
    virtual void attach(memory::Allocator* allocator);
    virtual void detach(memory::Allocator* allocator);
    virtual void worldStarted(World& world, memory::Allocator* allocator);
    virtual void worldStopped(World& world, memory::Allocator* allocator);
    virtual void fixedTick(UpdateContext* context, World& world);
    virtual void update(UpdateContext* context, World& world);
    virtual void lateUpdate(World& world);
    virtual void reserved();
    // Fills the record with "DefaultSystem" and the default limits.
    virtual void describe(SystemInfo* info);
};

// Process-wide timing values, written by the game's main thread and read by
// worlds at any time.
f32 getTickInterval(); // seconds, 1/60 until the game sets it
void setTickInterval(f32 seconds);
f32 getTimeScale(); // 1.0 until the game sets it
void setTimeScale(f32 scale);

// The record addSystem starts from before the system describes itself.
SystemInfo makeDefaultSystemInfo(const char* name);

} // namespace quern::entity
