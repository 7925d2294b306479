#pragma once
// Material assets for the content tool. A material's source is a small text
// file, one setting a line ('#' starts a comment):
//
//   name <material name>            (default: the asset's name)
//   vertex <program asset name>     fragment <program asset name>
//   blend <source factor> <destination factor>    (0-14; default 1 0)
//   cull <0 none | 1 front | 2 back>               (default 2)
//   depth <comparison 0-7>                         (default 2, less or equal)
//   color <name> <r> <g> <b> <a>    vector <name> <x> <y> <z> <w>
//   float <name> <value>            uniform <name>
//   texture <name> <texture asset name | -> [unit <0-7>] [wrap <n>] [offset <x> <y>] [scale <x> <y>]
//   format <binary | text>          (default binary: the POD-token form written)
//
// Programs are named by asset name and need not be in the manifest (the
// built-in ones are registered by the game); a program that is in the
// manifest must be a shader program of the line's stage and a dependency of
// the material, so that whatever preloads the material loads its programs.
// Textures must be manifest assets; "-" declares a texture the game binds at
// run time. The type word is "material" in both forms, so the database
// records the engine's Material type.

#include "AssetManifest.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace quern::serialize {
class PODToken;
}

namespace quern::assetbuild {

struct MaterialSourceProperty {
    std::string name; // at most 19 characters
    u8 type = 0;      // 1 colour, 2 vector, 3 float, 4 texture, 5 uniform
    f32 value[4] = {};
    u64 textureId = 0;
    f32 offset[2] = {};
    f32 scale[2] = {1.0f, 1.0f};
    u32 wrap = 0;
    u32 unit = 0;
};

struct MaterialSource {
    std::string name;
    u64 vertexProgram = 0;
    u64 fragmentProgram = 0;
    std::string vertexProgramName; // as the source names them
    std::string fragmentProgramName;
    u8 sourceFactor = 1;
    u8 destinationFactor = 0;
    u8 cullMode = 2;
    u8 depthComparison = 2;
    bool textForm = false;
    std::vector<MaterialSourceProperty> properties;
};

// False with a message naming the line for an unknown keyword, a missing or
// bad number, a value out of range, a property name over 19 characters or a
// texture that is not an asset.
bool parseMaterialSource(const std::string& text, const std::map<std::string, u64>& assetIds, MaterialSource& out,
                         std::string& error);

// Writes the material in the token's form.
void writeMaterial(std::ostream& out, serialize::PODToken& token, const MaterialSource& material);

// Turns the source of a "material" asset into what the engine reads; other
// types are left as they are. `manifestAssets` finds the manifest entries of
// the programs the material names.
bool convertMaterialContent(const ManifestAsset& asset, const std::map<std::string, u64>& assetIds,
    const std::map<std::string, const ManifestAsset*>& manifestAssets, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
