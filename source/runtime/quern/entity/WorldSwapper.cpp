#include "quern/entity/WorldSwapper.h"

#include "quern/assets/AssetDatabase.h"
#include "quern/assets/DepotSource.h"
#include "quern/debug/Log.h"
#include "quern/entity/LevelLoader.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"

#include <cstring>
#include <new>

namespace quern::entity {

LevelLoader::~LevelLoader() = default;

namespace {

constexpr u64 kWorldBlockAlignment = alignof(World) > 8 ? alignof(World) : 8;

} // namespace

WorldSwapper::WorldSwapper(assets::AssetDatabase* assetDatabase, assets::Depot* assetDepot)
    : database(assetDatabase)
    , depot(assetDepot)
    , script(sizeof(u64), alignof(u64))
{
}

WorldSwapper::~WorldSwapper()
{
    destroyWorlds();
    script.release();
}

void WorldSwapper::createWorlds(memory::Allocator* allocator)
{
    if (worlds)
        QUERN_FATAL("The worlds exist already");
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    void* block = allocator->allocate(sizeof(World) * kWorldCount, kWorldBlockAlignment);
    if (!block)
        QUERN_OUT_OF_MEMORY();
    worlds = static_cast<World*>(block);
    for (u64 i = 0; i < kWorldCount; ++i) {
        new (&worlds[i]) World();
        worldAllocators[i] = allocator;
    }
    worldCount = kWorldCount;
    worldAllocatorCount = kWorldCount;
    blockAllocator = allocator;
}

void WorldSwapper::destroyWorlds()
{
    if (!worlds)
        return;
    for (u64 i = 0; i < worldCount; ++i)
        worlds[i].clear();
    for (u64 i = 0; i < worldCount; ++i)
        worlds[i].~World();
    blockAllocator->free(worlds);
    worlds = nullptr;
    worldCount = 0;
    worldAllocatorCount = 0;
    blockAllocator = nullptr;
}

void WorldSwapper::setWorldAllocator(u64 worldIndex, memory::Allocator* allocator)
{
    if (worldIndex >= worldAllocatorCount)
        QUERN_FATAL(
            strings::format<96>("No world %llu to give an allocator", static_cast<unsigned long long>(worldIndex)));
    worldAllocators[worldIndex] = allocator;
}

void WorldSwapper::loadScript()
{
    const u64 scriptId = database ? database->findWorldScript() : 0;
    if (scriptId == 0 || !depot)
        QUERN_FATAL("Couldn't open script");
    assets::DepotSource source(*depot, depot->open(scriptId), true);
    u32 count = 0;
    source.read(&count, sizeof count);
    if (count == 0)
        QUERN_FATAL("No worlds in script");
    // The count decides how much is reserved, so it is checked against the
    // bytes the script really has first.
    const u64 available = (source.size() - sizeof count) / sizeof(u64);
    if (count > available)
        QUERN_FATAL(strings::format<128>(
            "World script lists %u levels but holds only %llu", count, static_cast<unsigned long long>(available)));
    script.reserve(script.count() + count);
    for (u32 i = 0; i < count; ++i) {
        u64 id = 0;
        source.read(&id, sizeof id);
        if (id == 0)
            QUERN_FATAL("Invalid world in script");
        script.append(id);
    }
    currentLevel = -1;
}

void* WorldSwapper::loadLevel(i32 level, LevelLoader& loader, void* userData, i32 worldIndex)
{
    if (worldIndex < 0 || static_cast<u64>(worldIndex) >= worldCount)
        QUERN_FATAL(strings::format<128>("Can't load a level into world %d: there are %llu worlds", worldIndex,
            static_cast<unsigned long long>(worldCount)));
    if (level < 0 || static_cast<u64>(level) >= script.count())
        QUERN_FATAL(strings::format<128>("Level index %d is outside the world script (%llu levels)", level,
            static_cast<unsigned long long>(script.count())));
    World& world = worlds[worldIndex];
    memory::Allocator* allocator = worldAllocators[worldIndex];
    if (!world.attached)
        world.attachSystems(allocator);

    const u64 id = script.at<u64>(static_cast<u64>(level));
    const char* name = database ? database->getAssetName(id) : nullptr;
    if (name)
        QUERN_LOG(3) << "Loading level " << name << std::endl;
    else
        QUERN_LOG(3) << "Loading level " << strings::format<32>("0x%016llx", static_cast<unsigned long long>(id))
                     << " (not in the asset database)" << std::endl;

    void* result = loader.load(world, id, userData, *depot, allocator);
    lastLoadedLevel = level;
    return result;
}

i32 WorldSwapper::findLevel(const char* name) const
{
    if (!name)
        return -1;
    const u64 id = strings::murmurHash64A(name, std::strlen(name), 0);
    for (u64 i = 0; i < script.count(); ++i)
        if (script.at<u64>(i) == id)
            return static_cast<i32>(i);
    return -1;
}

} // namespace quern::entity
