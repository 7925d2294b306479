#include "quern/entity/World.h"

#include "quern/debug/Log.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <cstring>

namespace quern::entity {

namespace {

// Slots beyond this index cannot be addressed: index 0xffff means "no entity".
constexpr u64 kMaxSlots = EntityHandle::kNoIndex;

const char kNoName[] = "";

u16 nextGeneration(u16 generation)
{
    // Generation 0 marks the null handle, so the count skips it when it wraps.
    return generation == 0xffff ? 1 : static_cast<u16>(generation + 1);
}

containers::Array makeHandleList(u64 reserve)
{
    containers::Array list(sizeof(EntityHandle), alignof(EntityHandle));
    if (reserve > 0)
        list.reserve(reserve);
    return list;
}

} // namespace

World::World()
    : enabledMasks(sizeof(ComponentMask), alignof(ComponentMask))
    , componentMasks(sizeof(ComponentMask), alignof(ComponentMask))
    , states(sizeof(EntityState), alignof(EntityState))
    , generations(sizeof(u16), alignof(u16))
    , names(sizeof(const char*), alignof(const char*))
    , systems(sizeof(System*), alignof(System*))
    , systemInfos(sizeof(SystemInfo), alignof(SystemInfo))
    , pendingDestroys(sizeof(EntityHandle), alignof(EntityHandle))
{
    for (containers::Array& table : languageTables)
        table = containers::Array(sizeof(LanguageEntry), alignof(LanguageEntry));
    clock.step = static_cast<u64>(getTickInterval() * 1'000'000.0f);
    clock.maxDelta = WorldClock::kDefaultMaxDelta;
    clock.timeScale = 1.0f;
}

World::~World()
{
    clear();
    for (u64 i = 0; i < systems.count(); ++i)
        delete systems.at<System*>(i);
    systems.release();
}

void World::allocateComponentStore(const u16* sizes, u64 typeCount, u64 capacity, memory::Allocator* alloc)
{
    if (typeCount > kMaxComponentTypes)
        QUERN_FATAL("Too many component types for game world");
    if (store)
        freeComponentStore();
    if (!alloc)
        alloc = memory::getDefaultAllocator();
    componentTypeCount = typeCount;
    liveEntityCount = 0;
    u64 offset = 0;
    for (u64 t = 0; t < kMaxComponentTypes; ++t) {
        componentSizes[t] = t < typeCount ? sizes[t] : 0;
        componentOffsets[t] = t < typeCount ? offset : 0;
        if (t < typeCount)
            offset = (offset + u64 { sizes[t] } * capacity + 3) & ~u64 { 3 };
    }
    storeSize = offset;
    if (storeSize > 1'048'576)
        QUERN_LOG(3) << "Allocating " << (storeSize >> 10) << "k for component store" << std::endl;
    // At least one word, so that a world with a store always has a non-null one.
    store = static_cast<u8*>(alloc->allocate(storeSize > 0 ? storeSize : 4, 4));
    if (!store)
        QUERN_FATAL("Not enough memory for game world");
    allocator = alloc;

    enabledMasks = containers::Array(sizeof(ComponentMask), alignof(ComponentMask), alloc);
    componentMasks = containers::Array(sizeof(ComponentMask), alignof(ComponentMask), alloc);
    states = containers::Array(sizeof(EntityState), alignof(EntityState), alloc);
    generations = containers::Array(sizeof(u16), alignof(u16), alloc);
    names = containers::Array(sizeof(const char*), alignof(const char*), alloc);
    if (capacity > 0) {
        enabledMasks.reserve(capacity);
        componentMasks.reserve(capacity);
        states.reserve(capacity);
        generations.reserve(capacity);
        names.reserve(capacity);
    }
    texts = strings::StringInterner::create(alloc);
    entityNames = strings::StringInterner::create(alloc);
    if (!texts || !entityNames)
        QUERN_FATAL("Not enough memory for game world");
    for (containers::Array& table : languageTables)
        table = containers::Array(sizeof(LanguageEntry), alignof(LanguageEntry), alloc);
}

void World::freeComponentStore()
{
    enabledMasks.release();
    componentMasks.release();
    states.release();
    generations.release();
    names.release();
    if (store && allocator)
        allocator->free(store);
    store = nullptr;
    storeSize = 0;
    strings::StringInterner::destroy(allocator, texts);
    strings::StringInterner::destroy(allocator, entityNames);
    texts = nullptr;
    entityNames = nullptr;
    for (containers::Array& table : languageTables)
        table.release();
    allocator = nullptr;
    componentTypeCount = 0;
    liveEntityCount = 0;
}

void World::appendSlot()
{
    *static_cast<EntityState*>(states.expand(states.count() + 1)) = EntityState::Created;
    *static_cast<u16*>(generations.expand(generations.count() + 1)) = 1;
    *static_cast<ComponentMask*>(componentMasks.expand(componentMasks.count() + 1)) = ComponentMask {};
    *static_cast<ComponentMask*>(enabledMasks.expand(enabledMasks.count() + 1)) = ComponentMask {};
}

EntityHandle World::createEntity()
{
    const u64 slotCount = states.count();
    // The lowest free slot; states are bytes, so the scan runs at memchr speed
    // even when a level load creates thousands of entities in a row.
    static_assert(sizeof(EntityState) == 1 && static_cast<u8>(EntityState::Free) == 0);
    const void* freeSlot = slotCount > 0 ? std::memchr(states.data(), 0, slotCount) : nullptr;
    const u64 index = freeSlot ? static_cast<u64>(static_cast<const u8*>(freeSlot) - states.dataAs<u8>()) : slotCount;
    if (index < slotCount) {
        states.at<EntityState>(index) = EntityState::Created;
        componentMasks.at<ComponentMask>(index).clear();
        enabledMasks.at<ComponentMask>(index).clear();
        // A reused slot must not lend the dead entity's name to the new one.
        if (index < names.count())
            names.at<const char*>(index) = kNoName;
    } else {
        if (slotCount >= states.capacity() || slotCount >= kMaxSlots)
            QUERN_FATAL("Component store exhausted, can't create Entity");
        appendSlot();
    }
    ++liveEntityCount;
    return EntityHandle::make(static_cast<u16>(index), generations.at<u16>(index));
}

bool World::isValid(EntityHandle handle) const
{
    const u16 index = handle.index();
    return index != EntityHandle::kNoIndex && handle.generation() != 0 && index < states.count()
        && states.at<EntityState>(index) != EntityState::Free && generations.at<u16>(index) == handle.generation();
}

bool World::isActive(EntityHandle handle) const
{
    return isValid(handle) && states.at<EntityState>(handle.index()) == EntityState::Active;
}

void World::setEntityName(EntityHandle handle, const char* name)
{
    if (!isValid(handle) || !entityNames)
        return;
    const u64 length = std::strlen(name);
    const char* interned = entityNames->intern(name, length, strings::murmurHash64A(name, length, entityNames->seed()));
    const u64 index = handle.index();
    if (index >= names.count()) {
        const u64 old = names.count();
        names.expand(index + 1);
        for (u64 i = old; i < index; ++i)
            names.at<const char*>(i) = kNoName;
    }
    names.at<const char*>(index) = interned;
}

void World::setInternedEntityName(EntityHandle handle, const char* interned)
{
    if (!isValid(handle))
        return;
    const u64 index = handle.index();
    if (index >= names.count()) {
        const u64 old = names.count();
        names.expand(index + 1);
        for (u64 i = old; i < index; ++i)
            names.at<const char*>(i) = kNoName;
    }
    names.at<const char*>(index) = interned;
}

const char* World::getEntityName(EntityHandle handle) const
{
    if (!isValid(handle) || handle.index() >= names.count())
        return kNoName;
    return names.at<const char*>(handle.index());
}

void World::getComponents(EntityHandle handle, containers::Array& out)
{
    if (!isValid(handle))
        return;
    const ComponentMask& mask = componentMasks.at<ComponentMask>(handle.index());
    u64 present = 0;
    for (u32 t = 0; t < componentTypeCount; ++t)
        present += mask.test(t) ? 1 : 0;
    out.reserve(out.count() + present);
    for (u32 t = 0; t < componentTypeCount; ++t)
        if (mask.test(t))
            out.append(ComponentPointer { static_cast<u8>(t), getComponent(handle.index(), t) });
}

bool World::setComponentEnabled(EntityHandle handle, u8 type, bool enable)
{
    if (!isValid(handle) || type >= kMaxComponentTypes)
        return false;
    ComponentMask& mask = enabledMasks.at<ComponentMask>(handle.index());
    const bool previous = mask.test(type);
    if (enable)
        mask.set(type);
    else
        mask.reset(type);
    return previous;
}

void World::cloneEntities(EntityHandle* handles, u64 count)
{
    containers::Array parts(sizeof(ComponentPointer), alignof(ComponentPointer));
    for (u64 i = 0; i < count; ++i) {
        const EntityHandle source = handles[i];
        if (!isValid(source))
            continue;
        const EntityHandle clone = createEntity();
        parts.clear();
        getComponents(source, parts);
        ComponentMask& mask = componentMasks.at<ComponentMask>(clone.index());
        for (u64 p = 0; p < parts.count(); ++p) {
            const ComponentPointer& part = parts.at<ComponentPointer>(p);
            mask.set(part.type);
            void* target = getComponent(clone.index(), part.type);
            std::memset(target, 0, componentSizes[part.type]);
            std::memcpy(target, part.data, componentSizes[part.type]);
        }
        if (source.index() < names.count()) {
            const char* name = names.at<const char*>(source.index());
            if (clone.index() >= names.count()) {
                const u64 old = names.count();
                names.expand(clone.index() + 1);
                for (u64 n = old; n < clone.index(); ++n)
                    names.at<const char*>(n) = kNoName;
            }
            names.at<const char*>(clone.index()) = name;
        }
        handles[i] = clone;
    }
}

void World::destroyEntities(const EntityHandle* handles, u64 count)
{
    for (u64 i = 0; i < count; ++i) {
        const EntityHandle handle = handles[i];
        if (!isValid(handle)) {
            QUERN_LOG(2) << "Ignoring destroy of invalid entity handle 0x" << std::hex << handle.value << std::dec
                         << std::endl;
            continue;
        }
        if (states.at<EntityState>(handle.index()) == EntityState::Active)
            deactivateEntity(handle);
        if (!ticking) {
            destroyNow(&handle, 1);
            continue;
        }
        bool queued = false;
        for (u64 q = 0; q < pendingDestroys.count() && !queued; ++q)
            queued = pendingDestroys.at<EntityHandle>(q) == handle;
        if (!queued)
            pendingDestroys.append(handle);
    }
}

void World::destroyNow(const EntityHandle* handles, u64 count)
{
    for (u64 s = 0; s < systems.count(); ++s)
        systems.at<System*>(s)->entitiesDestroyed(handles, count, *this, allocator);
    for (u64 i = 0; i < count; ++i) {
        const u16 index = handles[i].index();
        states.at<EntityState>(index) = EntityState::Free;
        generations.at<u16>(index) = nextGeneration(generations.at<u16>(index));
        componentMasks.at<ComponentMask>(index).clear();
    }
    liveEntityCount -= count;
}

void World::activateEntities(const EntityHandle* handles, u64 count)
{
    containers::Array given = makeHandleList(count);
    containers::Array created = makeHandleList(count);
    for (u64 i = 0; i < count; ++i) {
        if (!isValid(handles[i])) {
            QUERN_LOG(2) << "Ignoring activation of invalid entity handle 0x" << std::hex << handles[i].value
                         << std::dec << std::endl;
            continue;
        }
        given.append(handles[i]);
        if (states.at<EntityState>(handles[i].index()) == EntityState::Created)
            created.append(handles[i]);
    }
    for (u64 i = 0; i < given.count(); ++i) {
        const u16 index = given.at<EntityHandle>(i).index();
        states.at<EntityState>(index) = EntityState::Active;
        enabledMasks.at<ComponentMask>(index) = componentMasks.at<ComponentMask>(index);
    }
    const EntityHandle* createdList = created.dataAs<EntityHandle>();
    const EntityHandle* givenList = given.dataAs<EntityHandle>();
    for (u64 s = 0; s < systems.count(); ++s) {
        System* system = systems.at<System*>(s);
        system->entitiesCreated(createdList, created.count(), *this, allocator);
        system->entitiesActivated(givenList, given.count(), *this);
    }
}

void World::deactivateEntity(EntityHandle handle)
{
    if (!isValid(handle)) {
        QUERN_LOG(2) << "Ignoring deactivation of invalid entity handle 0x" << std::hex << handle.value << std::dec
                     << std::endl;
        return;
    }
    for (u64 s = 0; s < systems.count(); ++s)
        systems.at<System*>(s)->entitiesDeactivated(&handle, 1, *this);
    states.at<EntityState>(handle.index()) = EntityState::Inactive;
    enabledMasks.at<ComponentMask>(handle.index()).clear();
}

void World::start()
{
    const u64 slotCount = states.count();
    containers::Array created = makeHandleList(slotCount);
    containers::Array activated = makeHandleList(slotCount);
    for (u64 i = 0; i < slotCount; ++i) {
        EntityState& state = states.at<EntityState>(i);
        if (state == EntityState::Created) {
            state = EntityState::Inactive;
            created.append(EntityHandle::make(static_cast<u16>(i), generations.at<u16>(i)));
        }
    }
    for (u64 i = 0; i < slotCount; ++i) {
        EntityState& state = states.at<EntityState>(i);
        if (state == EntityState::Inactive && !enabledMasks.at<ComponentMask>(i).isEmpty()) {
            state = EntityState::Active;
            activated.append(EntityHandle::make(static_cast<u16>(i), generations.at<u16>(i)));
        }
    }
    for (u64 s = 0; s < systems.count(); ++s) {
        System* system = systems.at<System*>(s);
        system->worldStarted(*this, allocator);
        system->entitiesCreated(created.dataAs<EntityHandle>(), created.count(), *this, allocator);
        system->entitiesActivated(activated.dataAs<EntityHandle>(), activated.count(), *this);
    }
    started = true;
}

void World::stop()
{
    const u64 slotCount = states.count();
    containers::Array active = makeHandleList(slotCount);
    containers::Array live = makeHandleList(slotCount);
    for (u64 i = 0; i < slotCount; ++i) {
        const EntityState state = states.at<EntityState>(i);
        const EntityHandle handle = EntityHandle::make(static_cast<u16>(i), generations.at<u16>(i));
        if (state == EntityState::Active)
            active.append(handle);
        if (state != EntityState::Free)
            live.append(handle);
    }
    for (u64 s = 0; s < systems.count(); ++s) {
        System* system = systems.at<System*>(s);
        system->entitiesDeactivated(active.dataAs<EntityHandle>(), active.count(), *this);
        system->entitiesDestroyed(live.dataAs<EntityHandle>(), live.count(), *this, allocator);
    }
    for (u64 s = 0; s < systems.count(); ++s)
        systems.at<System*>(s)->worldStopped(*this, allocator);
    // The entities are gone: a handle kept from before the stop must not
    // reach whatever is made in its slot next, so each slot moves on a generation.
    for (u64 i = 0; i < live.count(); ++i) {
        const u16 index = live.at<EntityHandle>(i).index();
        states.at<EntityState>(index) = EntityState::Free;
        generations.at<u16>(index) = nextGeneration(generations.at<u16>(index));
    }
    liveEntityCount = 0;
    started = false;
}

void World::clear()
{
    if (started)
        stop();
    if (attached) {
        for (u64 s = 0; s < systems.count(); ++s)
            systems.at<System*>(s)->detach(allocator);
        attached = false;
    }
    if (store)
        freeComponentStore();
}

void World::addSystem(System* system)
{
    if (!system)
        QUERN_FATAL("Null system added to game world");
    systems.append(system);
    SystemInfo* info = static_cast<SystemInfo*>(systemInfos.expand(systemInfos.count() + 1));
    *info = makeDefaultSystemInfo("System");
    system->describe(info);
}

void World::attachSystems(memory::Allocator* alloc)
{
    if (attached)
        return;
    for (u64 s = 0; s < systems.count(); ++s)
        systems.at<System*>(s)->attach(alloc);
    attached = true;
}

} // namespace quern::entity
