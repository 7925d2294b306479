#pragma once
// The game's level list for the content tool. A "levellist" asset comes from a
// text file of statements, one a line ('#' starts a comment; numbers are
// decimal or 0x-hex; asset names are assets of the manifest):
//
//   world <a> <b>                       a world entry; entry i is level index i
//   global <offset> <asset>             an id of the global record (offset 4, 12, ..., 76)
//   level <world-entry index> id <n> [chapter <n>] [sound <asset>] name <rest of the line>
//   title <level index> [sound <asset>]
//   menu <level index> [sound <asset>]
//   final <level index> [sound <asset>]
//   start <level index> [sound <asset>] [texture <asset>]...   at most ten textures
//   extra <level index> [sound <asset>]
//
// It is written in the layout harmonize::LevelList reads.

#include "AssetManifest.h"

#include "quern/Types.h"

#include "harmonize/levels/LevelList.h"

#include <map>
#include <string>
#include <vector>

namespace quern::assetbuild {

struct LevelRecordSource {
    i32 worldEntry = 0;
    i32 levelId = 0;
    i32 chapter = 0;
    u64 soundLibrary = 0;
    std::string name;
    std::string music;
    std::string ambience;
    std::string leaderboard;
    bool reverb = false;
    f32 reverbValues[harmonize::LevelList::kReverbValueCount] = {};
};

struct LevelReferenceSource {
    bool present = false;
    i32 level = 0;
    u64 soundLibrary = 0;
    // Extra entries only: the names that replace the level's own.
    std::string music;
    std::string ambience;
};

struct LevelListSource {
    std::vector<std::pair<i32, i32>> worldEntries;
    bool hasGlobal = false;
    u64 globalIds[10] = {}; // in the order of the record's id offsets
    std::vector<LevelRecordSource> levels;
    LevelReferenceSource title;
    LevelReferenceSource menu;
    LevelReferenceSource final;
    LevelReferenceSource start;
    u64 startTextures[10] = {};
    std::vector<LevelReferenceSource> extras;
};

// False with a message naming the line for a statement the list cannot hold:
// a level id of 0 or given twice, a name longer than its field, an index
// outside the world entries, an unknown asset or global offset, more than ten
// textures, a second title, menu, final or start, an unknown statement.
bool parseLevelList(
    const std::vector<u8>& text, const std::map<std::string, u64>& assetIds, LevelListSource& list, std::string& error);

// The asset image: byte count, then the data block.
std::vector<u8> writeLevelList(const LevelListSource& list);

// Text to image in one step.
bool buildLevelList(
    const std::string& text, const std::map<std::string, u64>& assetIds, std::vector<u8>& out, std::string& error);

// The world-entry count of an image writeLevelList made.
i32 levelListWorldEntryCount(const std::vector<u8>& image);

// Turns the source of a "levellist" asset into its image; other types are left
// as they are.
bool convertLevelListContent(
    const ManifestAsset& asset, const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
