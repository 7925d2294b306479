#pragma once
// The entity container: a fixed number of entity slots, one component store
// with a dense array per component type, per-slot masks, states, generations
// and names, the systems in registration order and the fixed-step clock.
//
// Component types belong to the game: it hands the World one byte size per
// type; the World never looks inside component bytes. A World has no lock:
// one task at a time updates it.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/EntityHandle.h"
#include "quern/entity/System.h"
#include "quern/entity/WorldClock.h"

namespace quern::memory {
class Allocator;
}
namespace quern::strings {
class StringInterner;
}

namespace quern::entity {

struct WorldSnapshot;
struct ComponentDifference;

// What getComponents lists: one component of an entity.
struct ComponentPointer {
    u8 type;
    void* data;
};

// One entry of a language table: a text key and the key of its translation.
struct LanguageEntry {
    u64 key;
    u64 translatedKey;
};

class World {
public:
    static constexpr u32 kLanguageCount = 9;

    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Store ------------------------------------------------------------------
    // Lays out `capacity` components of each of `typeCount` types (sizes in
    // bytes) in one block from `allocator` (null: the default allocator) and
    // reserves the slot arrays to `capacity`.
    void allocateComponentStore(const u16* sizes, u64 typeCount, u64 capacity, memory::Allocator* allocator);
    void freeComponentStore();
    bool hasComponentStore() const { return store != nullptr; }

    u64 getSlotCount() const { return states.count(); }
    u64 getCapacity() const { return states.capacity(); }
    EntityState getState(u64 slot) const { return states.at<EntityState>(slot); }
    u16 getGeneration(u64 slot) const { return generations.at<u16>(slot); }
    ComponentMask& getComponentMask(u64 slot) { return componentMasks.at<ComponentMask>(slot); }
    ComponentMask& getEnabledMask(u64 slot) { return enabledMasks.at<ComponentMask>(slot); }
    // The component of `type` in `slot`, whether or not the entity has it.
    void* getComponent(u64 slot, u32 type) { return store + componentOffsets[type] + u64 { componentSizes[type] } * slot; }

    // Entities ---------------------------------------------------------------
    // Handles that are not valid (stale, freed or null) are skipped by the
    // operations below, so an old handle can never reach a newer entity.
    EntityHandle createEntity();
    // Replaces each handle by a new Created entity with copies of its components and name.
    void cloneEntities(EntityHandle* handles, u64 count);
    // Deferred to the end of the fixed tick when called during one.
    void destroyEntities(const EntityHandle* handles, u64 count);
    void activateEntities(const EntityHandle* handles, u64 count);
    void deactivateEntity(EntityHandle handle);
    bool isValid(EntityHandle handle) const;
    bool isActive(EntityHandle handle) const;
    void setEntityName(EntityHandle handle, const char* name);
    // For loaders that intern many names themselves: `interned` must be a text
    // stored in `entityNames`.
    void setInternedEntityName(EntityHandle handle, const char* interned);
    // "" when the entity has no name.
    const char* getEntityName(EntityHandle handle) const;
    // Appends a ComponentPointer per component the entity has, in type order.
    void getComponents(EntityHandle handle, containers::Array& out);
    // Returns the previous value of the bit.
    bool setComponentEnabled(EntityHandle handle, u8 type, bool enable);

    // Lifecycle --------------------------------------------------------------
    void start();
    void stop();
    // Unloads the level: stops, detaches the systems, frees the store. The
    // systems stay registered.
    void clear();

    // Systems and ticking ----------------------------------------------------
    // The World takes ownership and deletes the system when it is destroyed.
    void addSystem(System* system);
    u64 getSystemCount() const { return systems.count(); }
    System* getSystem(u64 index) const { return systems.at<System*>(index); }
    SystemInfo& getSystemInfo(u64 index) { return systemInfos.at<SystemInfo>(index); }
    // Calls every system's attach with the world's allocator, once per level.
    void attachSystems(memory::Allocator* allocator);

    // One frame at `now` (microseconds, increasing): the clock's fixed ticks,
    // then one update and one late update of every system.
    void update(u64 now);
    void fixedTick(u32 count);
    void variableUpdate(u64 time);
    // The next update is a first frame again.
    void restartClock();

    UpdateContext makeUpdateContext();

    // Snapshots and checksums ------------------------------------------------
    // Copies the slots and the store into `snapshot` (see WorldSnapshot.h).
    void takeSnapshot(WorldSnapshot& snapshot, memory::Allocator* allocator);
    // Puts the world back as the snapshot holds it, telling the systems only
    // about the entities that differ.
    void restoreSnapshot(const WorldSnapshot& snapshot);
    // CRC-32 over every enabled component, type by type, slot by slot; 0 for a
    // world without component types.
    u32 worldChecksum() const;
    // CRC-32 over the entity's enabled components in type order.
    u32 entityChecksum(EntityHandle handle) const;
    // Copies the entity's enabled components in type order, skipping those that
    // no longer fit; returns the bytes all of them need.
    u64 copyEntityComponents(EntityHandle handle, void* destination, u64 capacity) const;
    // The first enabled component that differs from the copy in `data`.
    ComponentDifference compareEntityComponents(EntityHandle handle, const void* data, u64 size);

    // Fields, in the order the engine lays them out ------------------------
    u64 componentOffsets[kMaxComponentTypes] = {};
    u16 componentSizes[kMaxComponentTypes] = {};
    containers::Array enabledMasks; // ComponentMask per slot: components switched on
    containers::Array componentMasks; // ComponentMask per slot: components the entity has
    containers::Array states; // EntityState per slot
    containers::Array generations; // u16 per slot
    containers::Array names; // const char* per slot, may be shorter than the slot count
    containers::Array systems; // System*
    containers::Array systemInfos; // SystemInfo, parallel to systems
    containers::Array pendingDestroys; // EntityHandle queued during a fixed tick
    u64 localizationAssetIds[kLanguageCount] = {};
    containers::Array languageTables[kLanguageCount]; // LanguageEntry, sorted by key
    u8* store = nullptr;
    u64 storeSize = 0;
    memory::Allocator* allocator = nullptr;
    strings::StringInterner* texts = nullptr;
    strings::StringInterner* entityNames = nullptr;
    u64 componentTypeCount = 0;
    u64 liveEntityCount = 0;
    WorldClock clock;
    u64 currentTime = 0; // microseconds: the current tick's time, or the clock's time in updates
    f32 deltaTime = 0.0f; // seconds: the step in fixed ticks, the frame delta in updates
    i32 language = -1;
    bool attached = false;
    bool started = false;
    bool ticking = false;

private:
    void destroyNow(const EntityHandle* handles, u64 count);
    void appendSlot();
    bool shouldSkipTick(SystemInfo& info) const;
};

} // namespace quern::entity
