#pragma once
// Level sources: the game's levels as text, turned into world files of the
// game's own component model.
//
// One statement a line; '#' starts a comment:
//
//   world <name>                       the world's name (default: the asset's)
//   entity <name> [parent <name>]      a new entity; the lines below fill it
//   prefab <name> [parent <name>]      a dormant template entity: nothing of it
//                                      or of its subtree is enabled at start
//   <Component>                        adds the component at its defaults
//   <Component>.<field> <value>...     sets a field, adding the component
//   text <key> <text...>               a text of the level, looked up by key
//   language <slot> <asset id>         the catalogue translating the texts
//
// Components and fields are named as the game's records name them. A field
// takes from one value up to its element count, filling it from the first
// element: numbers (integers may be hexadecimal) or, for entity handles, the
// name of an entity of the level, or for 64-bit fields "text:<key>", the key
// of a text of the level. What is left out is zero, except that a
// Transform's rotation starts as (0, 0, 0, 1) and its scale as (1, 1, 1). Entities become the level's slots in the
// order they are declared.

#include "AssetManifest.h"
#include "WorldWriter.h"

#include <map>
#include <string>
#include <vector>

namespace quern::assetbuild {

// Parses `text` into a world of the game's model named `worldName` (unless the
// source names one). False with a message naming the line for an unknown
// component or field, a wrong value, a repeated entity name, a parent or
// handle that names no entity of the level, or a parent cycle.
bool readLevelSource(
    const std::string& text, const std::string& worldName, WorldDocument& document, std::string& error);

// Turns the source bytes of a "level" (binary world) or "leveltext" (text
// world) asset into the world file; other types are left as they are.
bool convertLevelContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
