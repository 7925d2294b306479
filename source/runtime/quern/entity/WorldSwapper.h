#pragma once
// The game's three worlds and its list of levels. Worlds 0 and 1 take turns
// (one runs a level while the other loads the next), world 2 holds the front
// end. The world script, exported with the asset database, lists the level
// world assets in play order:
//   u32 level count n (at least 1), then n u64 asset ids (none 0), little-endian.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/entity/World.h"

namespace quern::assets {
class AssetDatabase;
class Depot;
} // namespace quern::assets
namespace quern::memory {
class Allocator;
}

namespace quern::entity {

class LevelLoader;

class WorldSwapper {
public:
    static constexpr u64 kWorldCount = 3;

    WorldSwapper(assets::AssetDatabase* database, assets::Depot* depot);
    ~WorldSwapper();
    WorldSwapper(const WorldSwapper&) = delete;
    WorldSwapper& operator=(const WorldSwapper&) = delete;

    // One block of the three worlds from `allocator` (null: the default
    // allocator), which also becomes every world's level allocator.
    void createWorlds(memory::Allocator* allocator);
    // Clears and destroys the worlds and frees their block.
    void destroyWorlds();
    // The game gives the two level worlds its level heaps.
    void setWorldAllocator(u64 worldIndex, memory::Allocator* allocator);

    // Reads the world script named by the database. A database without one is
    // fatal "Couldn't open script", an empty script "No worlds in script", an id
    // of 0 "Invalid world in script".
    void loadScript();

    // Hands level `level` of the script to `loader` for world `worldIndex`,
    // attaching that world's systems first when they are not attached, and
    // returns the loader's result. A level or world index out of range is fatal.
    void* loadLevel(i32 level, LevelLoader& loader, void* userData, i32 worldIndex);

    // The script position of the level asset called `name`, or -1.
    i32 findLevel(const char* name) const;

    u64 getWorldCount() const { return worldCount; }
    World& getWorld(u64 index) { return worlds[index]; }
    u64 getLevelCount() const { return script.count(); }
    u64 getLevelId(u64 level) const { return script.at<u64>(level); }

    assets::AssetDatabase* database;
    assets::Depot* depot;
    memory::Allocator* blockAllocator = nullptr;
    World* worlds = nullptr;
    u64 worldCount = 0;
    memory::Allocator* worldAllocators[kWorldCount] = {};
    u64 worldAllocatorCount = 0;
    containers::Array script; // u64 world asset ids in play order
    i32 currentLevel = -1; // -1: none
    i32 lastLoadedLevel = -1; // the level last handed to a loader
};

} // namespace quern::entity
