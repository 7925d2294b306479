#include "quern/entity/WorldSnapshot.h"

#include "quern/containers/Array.h"
#include "quern/entity/World.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quern::entity {

namespace {

const char kNoName[] = "";

u16 nextGeneration(u16 generation)
{
    return generation == 0xffff ? 1 : static_cast<u16>(generation + 1);
}

void* allocateOrDie(memory::Allocator* allocator, u64 size, u64 alignment)
{
    // Zero-sized worlds still get a block, so a taken snapshot is never empty.
    void* block = allocator->allocate(size > 0 ? size : alignment, alignment);
    if (!block)
        QUERN_OUT_OF_MEMORY();
    return block;
}

void freeSlotCopies(WorldSnapshot& snapshot, memory::Allocator* allocator)
{
    allocator->free(snapshot.states);
    allocator->free(snapshot.generations);
    allocator->free(snapshot.enabledMasks);
    allocator->free(snapshot.componentMasks);
    allocator->free(snapshot.names);
    snapshot.names = nullptr;
    snapshot.states = nullptr;
    snapshot.generations = nullptr;
    snapshot.enabledMasks = nullptr;
    snapshot.componentMasks = nullptr;
}

bool isLive(EntityState state)
{
    return state != EntityState::Free;
}

// The four handle lists of a restore, from the default allocator.
struct RestoreLists {
    containers::Array deactivate { sizeof(EntityHandle), alignof(EntityHandle) };
    containers::Array destroy { sizeof(EntityHandle), alignof(EntityHandle) };
    containers::Array create { sizeof(EntityHandle), alignof(EntityHandle) };
    containers::Array activate { sizeof(EntityHandle), alignof(EntityHandle) };
};

// Step 1 of a restore for a slot both the world and the snapshot have.
void compareSlot(World& world, const WorldSnapshot& snapshot, u64 j, RestoreLists& lists)
{
    const EntityState now = world.getState(j);
    const EntityState then = snapshot.states[j];
    const u16 generationNow = world.getGeneration(j);
    const u16 generationThen = snapshot.generations[j];
    const bool sameMask = world.getComponentMask(j) == snapshot.componentMasks[j];
    if (sameMask && now == then && generationNow == generationThen)
        return;
    const EntityHandle current = EntityHandle::make(static_cast<u16>(j), generationNow);
    const EntityHandle old = EntityHandle::make(static_cast<u16>(j), generationThen);
    if (now == EntityState::Active)
        lists.deactivate.append(current);
    if (generationNow != generationThen) {
        if (isLive(now))
            lists.destroy.append(current);
        if (isLive(then))
            lists.create.append(old);
    } else if (!sameMask) {
        if (isLive(now))
            lists.destroy.append(current);
        if (isLive(then))
            lists.create.append(current);
    } else {
        if (isLive(now) && !isLive(then))
            lists.destroy.append(current);
        if (!isLive(now) && isLive(then))
            lists.create.append(current);
    }
    if (then == EntityState::Active)
        lists.activate.append(old);
}

template <class T> void copySlots(containers::Array& target, const T* source, u64 count)
{
    target.expand(count);
    if (count > 0)
        std::memcpy(target.data(), source, count * sizeof(T));
}

} // namespace

void release(WorldSnapshot& snapshot, memory::Allocator* allocator)
{
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    allocator->free(snapshot.store);
    freeSlotCopies(snapshot, allocator);
    snapshot = WorldSnapshot {};
}

void World::takeSnapshot(WorldSnapshot& snapshot, memory::Allocator* alloc)
{
    if (!store)
        QUERN_FATAL("Can't take a snapshot of a world without a component store");
    if (!alloc)
        alloc = memory::getDefaultAllocator();
    const u64 slotCount = getSlotCount();
    const u64 capacity = getCapacity();

    // A store copy of another size would be overrun (or restore garbage), so
    // only one of the same size is reused.
    if (snapshot.store && snapshot.storeSize != storeSize) {
        alloc->free(snapshot.store);
        snapshot.store = nullptr;
    }
    freeSlotCopies(snapshot, alloc);

    snapshot.enabledMasks = static_cast<ComponentMask*>(allocateOrDie(alloc, slotCount * sizeof(ComponentMask), 16));
    snapshot.componentMasks = static_cast<ComponentMask*>(allocateOrDie(alloc, slotCount * sizeof(ComponentMask), 16));
    snapshot.states = static_cast<EntityState*>(allocateOrDie(alloc, capacity, 1));
    snapshot.generations = static_cast<u16*>(allocateOrDie(alloc, capacity * sizeof(u16), alignof(u16)));
    snapshot.names = static_cast<const char**>(allocateOrDie(alloc, slotCount * sizeof(const char*), alignof(const char*)));
    for (u64 j = 0; j < slotCount; ++j)
        snapshot.names[j] = j < names.count() ? names.at<const char*>(j) : kNoName;
    if (slotCount > 0) {
        std::memcpy(snapshot.enabledMasks, enabledMasks.data(), slotCount * sizeof(ComponentMask));
        std::memcpy(snapshot.componentMasks, componentMasks.data(), slotCount * sizeof(ComponentMask));
        std::memcpy(snapshot.states, states.data(), slotCount);
        std::memcpy(snapshot.generations, generations.data(), slotCount * sizeof(u16));
    }
    snapshot.world = this;
    snapshot.slotCount = slotCount;
    snapshot.storeSize = storeSize;
    if (!snapshot.store)
        snapshot.store = static_cast<u8*>(allocateOrDie(alloc, storeSize, 4));
    std::memcpy(snapshot.store, store, storeSize);
}

void World::restoreSnapshot(const WorldSnapshot& snapshot)
{
    if (!snapshot.holdsStore())
        QUERN_FATAL("Can't restore an empty world snapshot");
    if (!store || snapshot.storeSize != storeSize || snapshot.slotCount > getCapacity())
        QUERN_FATAL("World snapshot doesn't fit this world");
    const u64 n = getSlotCount();
    const u64 s = snapshot.slotCount;
    const u64 m = std::min(n, s);
    RestoreLists lists;

    for (u64 j = 0; j < m; ++j)
        compareSlot(*this, snapshot, j, lists);
    for (u64 j = m; j < n; ++j) {
        const EntityHandle current = EntityHandle::make(static_cast<u16>(j), getGeneration(j));
        if (isLive(getState(j)))
            lists.destroy.append(current);
        if (getState(j) == EntityState::Active)
            lists.deactivate.append(current);
    }
    for (u64 j = m; j < s; ++j) {
        const EntityHandle old = EntityHandle::make(static_cast<u16>(j), snapshot.generations[j]);
        if (isLive(snapshot.states[j]))
            lists.create.append(old);
        if (snapshot.states[j] == EntityState::Active)
            lists.activate.append(old);
    }

    for (u64 i = 0; i < systems.count(); ++i) {
        System* system = systems.at<System*>(i);
        if (!lists.deactivate.isEmpty())
            system->entitiesDeactivated(lists.deactivate.dataAs<EntityHandle>(), lists.deactivate.count(), *this);
        if (!lists.destroy.isEmpty())
            system->entitiesDestroyed(lists.destroy.dataAs<EntityHandle>(), lists.destroy.count(), *this, allocator);
    }

    // Before the slots change. Names are texts of the taking world's
    // interner, so only that world takes them back; otherwise (a stream, or
    // another world) a slot keeps its name only while it holds the same
    // entity, so that no entity comes back under the name of the one it
    // replaced.
    const bool ownNames = snapshot.names && snapshot.world == this;
    const u64 namedBefore = names.count();
    names.expand(s);
    for (u64 j = 0; j < s; ++j) {
        const char*& name = names.at<const char*>(j);
        if (ownNames)
            name = snapshot.names[j];
        else if (j >= namedBefore || j >= n || !isLive(snapshot.states[j]) || !isLive(getState(j))
            || getGeneration(j) != snapshot.generations[j])
            name = kNoName;
    }

    copySlots(enabledMasks, snapshot.enabledMasks, s);
    copySlots(componentMasks, snapshot.componentMasks, s);
    copySlots(states, snapshot.states, s);
    generations.expand(s);
    u64 live = 0;
    for (u64 j = 0; j < s; ++j) {
        u16& generation = generations.at<u16>(j);
        if (isLive(snapshot.states[j])) {
            generation = snapshot.generations[j];
            ++live;
        } else {
            // Handles to a slot that is free again must go stale.
            generation = nextGeneration(j < n ? generation : snapshot.generations[j]);
        }
    }
    liveEntityCount = live;
    std::memcpy(store, snapshot.store, storeSize);

    for (u64 i = 0; i < systems.count(); ++i) {
        System* system = systems.at<System*>(i);
        if (!lists.create.isEmpty())
            system->entitiesCreated(lists.create.dataAs<EntityHandle>(), lists.create.count(), *this, allocator);
        if (!lists.activate.isEmpty())
            system->entitiesActivated(lists.activate.dataAs<EntityHandle>(), lists.activate.count(), *this);
    }
}

namespace {

[[noreturn]] void rejectSnapshot(const char* reason)
{
    QUERN_FATAL(strings::format<256>("Invalid world snapshot: %s", reason));
}

u64 readLittleEndian(ByteSource& source, u32 bytes)
{
    u8 raw[8] = {};
    source.read(raw, bytes);
    u64 value = 0;
    for (u32 i = 0; i < bytes; ++i)
        value |= u64 { raw[i] } << (8 * i);
    return value;
}

constexpr u64 kStreamHeaderSize = 12;
constexpr u64 kSlotBatch = 256; // slot records checked per read

using SnapshotFault = strings::format<128>;

// The types past the world's own, which no slot may enable.
ComponentMask foreignTypes(const World& world)
{
    ComponentMask mask;
    for (u32 t = static_cast<u32>(world.componentTypeCount); t < kMaxComponentTypes; ++t)
        mask.set(t);
    return mask;
}

u32 lowestType(const ComponentMask& mask)
{
    return mask.words[0] != 0 ? static_cast<u32>(std::countr_zero(mask.words[0]))
                              : 64 + static_cast<u32>(std::countr_zero(mask.words[1]));
}

// Reads the slot records (states, then masks) of a stream whose header and
// length have been checked; the position stands at the first state.
void findSlotFault(ByteSource& source, const World& world, u64 slotCount, SnapshotFault& fault)
{
    u8 states[kSlotBatch];
    for (u64 first = 0; first < slotCount; first += kSlotBatch) {
        const u64 count = std::min(kSlotBatch, slotCount - first);
        source.read(states, count);
        for (u64 j = 0; j < count; ++j)
            if (states[j] > static_cast<u8>(EntityState::Active)) {
                fault.print("slot %llu has the unknown state %u", static_cast<unsigned long long>(first + j),
                            static_cast<unsigned>(states[j]));
                return;
            }
    }
    const ComponentMask foreign = foreignTypes(world);
    u8 raw[kSlotBatch * sizeof(ComponentMask)];
    for (u64 first = 0; first < slotCount; first += kSlotBatch) {
        const u64 count = std::min(kSlotBatch, slotCount - first);
        source.read(raw, count * sizeof(ComponentMask));
        for (u64 j = 0; j < count; ++j) {
            ComponentMask mask;
            std::memcpy(mask.words, raw + j * sizeof(ComponentMask), sizeof(ComponentMask));
            mask.words[0] &= foreign.words[0];
            mask.words[1] &= foreign.words[1];
            if (!mask.isEmpty()) {
                fault.print("slot %llu enables component type %u, which the world doesn't have",
                            static_cast<unsigned long long>(first + j), lowestType(mask));
                return;
            }
        }
    }
}

void findStreamFault(ByteSource& source, const World& world, SnapshotFault& fault)
{
    if (!world.hasComponentStore()) {
        fault.print("the world has no component store");
        return;
    }
    const u64 available = source.size() > source.position ? source.size() - source.position : 0;
    if (available < kStreamHeaderSize) {
        fault.print("the stream ends early");
        return;
    }
    const u64 slotCount = readLittleEndian(source, 4);
    const u64 storeSize = readLittleEndian(source, 8);
    if (slotCount > world.getCapacity() || slotCount > EntityHandle::kNoIndex) {
        fault.print("%llu entities for a world of capacity %llu", static_cast<unsigned long long>(slotCount),
                    static_cast<unsigned long long>(world.getCapacity()));
        return;
    }
    if (storeSize != world.storeSize) {
        fault.print("store of %llu bytes for a world whose store has %llu", static_cast<unsigned long long>(storeSize),
                    static_cast<unsigned long long>(world.storeSize));
        return;
    }
    if (available - kStreamHeaderSize < storeSize + slotCount * (1 + sizeof(ComponentMask))) {
        fault.print("the stream ends early");
        return;
    }
    source.position += storeSize;
    findSlotFault(source, world, slotCount, fault);
}

// The stream has no generations or component masks: take them from the world
// where it has the slot, so restoring a stream of the unchanged world changes
// nothing. A live entity of the world that lacks a component the stream's entity
// had enabled cannot be that entity: the slot gets a new generation, so handles
// to the world's entity go stale instead of reaching the restored one.
void rebuildSlotRecords(WorldSnapshot& snapshot, World& world)
{
    const u64 worldSlots = world.getSlotCount();
    for (u64 j = 0; j < snapshot.slotCount; ++j) {
        const bool inWorld = j < worldSlots;
        u16 generation = inWorld ? world.getGeneration(j) : 1;
        ComponentMask mask;
        if (isLive(snapshot.states[j])) {
            mask = snapshot.enabledMasks[j];
            if (inWorld && isLive(world.getState(j))) {
                const ComponentMask& has = world.getComponentMask(j);
                if (has.containsAll(mask))
                    mask = has;
                else
                    generation = nextGeneration(generation);
            }
        }
        snapshot.generations[j] = generation;
        snapshot.componentMasks[j] = mask;
    }
}

} // namespace

strings::format<128> findWorldSnapshotFault(ByteSource& source, const World& world)
{
    const u64 start = source.position;
    SnapshotFault fault;
    findStreamFault(source, world, fault);
    source.position = start;
    return fault;
}

void readWorldSnapshot(ByteSource& source, WorldSnapshot& snapshot, memory::Allocator* allocator, World& world)
{
    const SnapshotFault fault = findWorldSnapshotFault(source, world);
    if (fault.c_str()[0] != 0)
        rejectSnapshot(fault);
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    const u64 slotCount = readLittleEndian(source, 4);
    const u64 storeSize = readLittleEndian(source, 8);

    release(snapshot, allocator);
    const u64 capacity = world.getCapacity();
    snapshot.store = static_cast<u8*>(allocateOrDie(allocator, storeSize, 4));
    snapshot.states = static_cast<EntityState*>(allocateOrDie(allocator, capacity, 1));
    snapshot.enabledMasks = static_cast<ComponentMask*>(allocateOrDie(allocator, slotCount * sizeof(ComponentMask), 16));
    snapshot.componentMasks = static_cast<ComponentMask*>(allocateOrDie(allocator, slotCount * sizeof(ComponentMask), 16));
    snapshot.generations = static_cast<u16*>(allocateOrDie(allocator, capacity * sizeof(u16), alignof(u16)));
    snapshot.slotCount = slotCount;
    snapshot.storeSize = storeSize;
    snapshot.world = &world;
    source.read(snapshot.store, storeSize);
    source.read(snapshot.states, slotCount);
    for (u64 j = 0; j < slotCount; ++j) {
        ComponentMask& mask = snapshot.enabledMasks[j];
        mask.words[0] = readLittleEndian(source, 8);
        mask.words[1] = readLittleEndian(source, 8);
    }
    rebuildSlotRecords(snapshot, world);
}

} // namespace quern::entity
