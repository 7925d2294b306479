#pragma once
// Level worlds and the world script for the content tool.
//
// A world is read from its source (either POD-token form, chosen by the first
// byte as the engine does) into a WorldDocument and written again in the form
// the manifest asks for: "world" gives the binary form, "worldtext" the text
// form. The two load into the same component bytes.
//
// The world script ("worldscript") comes from a text file naming one asset a
// line ('#' starts a comment): the levels ("level", "leveltext", "world",
// "worldtext") in play order, then the level list ("levellist") with one world
// entry per level. It is written as u32 count and one u64 asset id per line,
// little-endian.

#include "AssetManifest.h"

#include "quern/entity/WorldModel.h"
#include "quern/strings/StringInterner.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::assetbuild {

struct WorldComponent {
    u8 type = 0;
    std::vector<u8> bytes; // the component's memory image, padding zeroed
};

struct WorldEntity {
    std::string name;
    u64 enabledMask[2] = { 0, 0 };
    std::vector<WorldComponent> components;
};

struct WorldDocument {
    entity::WorldModel model;
    std::vector<WorldEntity> entities;
    strings::StringInterner texts;
    u64 localizationAssetIds[9] = {};
};

// Reads a world file; faults in the file end in the engine's fatal path, as
// they would when the game loads it.
void readWorldDocument(ByteSource& source, WorldDocument& document);
// Writes the document in the token's form. False with a message for a
// document the engine would refuse (a component type index outside the model,
// component bytes of the wrong size, a text over 1,023 bytes).
bool writeWorldFile(std::ostream& out, serialize::PODToken& token, const WorldDocument& document, std::string& error);

// What the world script check knows of the manifest's other assets.
struct WorldScriptAssets {
    std::map<std::string, std::string> typeWords; // asset name -> type word
    std::map<std::string, i32> levelListEntries;  // level list -> its world-entry count
};

// The world script for the source `text`, resolved through `assetIds`. False
// with a message naming the line for a name that is not an asset or neither a
// level nor a level list, a line after the level list, and a level list whose
// world-entry count is not the number of levels; also for a script without
// levels or without its level list.
bool buildWorldScript(const std::string& text, const std::map<std::string, u64>& assetIds,
    const WorldScriptAssets& known, std::vector<u8>& out, std::string& error);

// Turns the source bytes of a "world" or "worldtext" asset into what the
// engine reads; other types are left as they are.
bool convertWorldContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

// The same for a "worldscript" asset, once every other asset is built.
bool convertWorldScriptContent(const ManifestAsset& asset, const std::map<std::string, u64>& assetIds,
    const WorldScriptAssets& known, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
