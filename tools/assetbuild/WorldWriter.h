#pragma once
// Level worlds and the world script for the content tool.
//
// A world is read from its source (either POD-token form, chosen by the first
// byte as the engine does) into a WorldDocument and written again in the form
// the manifest asks for: "world" gives the binary form, "worldtext" the text
// form. The two load into the same component bytes.
//
// The world script ("worldscript") comes from a text file naming one level
// asset a line ('#' starts a comment); it is written as u32 count and one u64
// asset id per level, little-endian.

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

// The world script for `levelNames`, resolved through `assetIds`. False with a
// message for an empty list or a name that is not an asset.
bool buildWorldScript(
    const std::string& levelList, const std::map<std::string, u64>& assetIds, std::vector<u8>& out, std::string& error);

// Turns the source bytes of a "world", "worldtext" or "worldscript" asset into
// what the engine reads; other types are left as they are.
bool convertWorldContent(
    const ManifestAsset& asset, const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
