#pragma once
// Sounds made when the content is built: an "audiostream" source that is no
// Ogg file but a one-line recipe
//
//   sox <rate> <channels> <sox effect words...>
//
// is rendered by sox (from nothing, 16-bit) with those effects and encoded by
// oggenc; the Ogg file becomes the asset's bytes. Effect words are plain
// (letters, digits and . : + - %); nothing reaches a shell.

#include "AssetManifest.h"

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

struct SoundRecipe {
    u32 rate = 0;
    u32 channels = 0;
    std::vector<std::string> effects;
};

// False with the reason for a text that is no recipe.
bool parseSoundRecipe(const std::vector<u8>& text, SoundRecipe& recipe, std::string& error);

// Makes the Ogg file of a recipe source (a text starting "sox ") of an
// "audiostream" asset in place; other sources and types are left alone. False with a message naming the
// line when the recipe is bad or sox or oggenc fails.
bool convertSoundRecipe(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
