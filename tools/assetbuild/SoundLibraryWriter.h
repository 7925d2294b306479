#pragma once
// Sound libraries for the content tool. A "soundlibrary" asset comes from a
// text file of keyword lines ('#' starts a comment):
//
//   group <name> [gain <g>] [curve <fraction> <gain> ...]
//   sound <name> [gain <g>] [group <group name>] [interval <seconds>]
//         [instances <n>] [distance <d>] [loop] [pick first|random|cycle]
//   component <audio asset name> [gain <g>] [fadein <seconds>] [fadeout <seconds>]
//
// A component belongs to the sound above it; its audio asset must be listed in
// the manifest. Sound and group ids are MurmurHash64A of the names with the
// string interner's seed. Defaults: gains 1, no group, no limits, distance 100,
// pick first. Curves hold at most 16 points with ascending fractions.

#include "AssetManifest.h"

#include "quern/Types.h"

#include <map>
#include <string>
#include <vector>

namespace quern::assetbuild {

struct SoundComponentSource {
    u64 audioAssetId = 0;
    f32 gain = 1.0f;
    f32 fadeIn = 0.0f;
    f32 fadeOut = 0.0f;
};

struct SoundSource {
    std::string name;
    f32 gain = 1.0f;
    std::string group; // empty: none
    f32 interval = 0.0f;
    u32 instances = 0;
    f32 distance = 100.0f;
    bool looping = false;
    u8 pickMode = 0;
    std::vector<SoundComponentSource> components;
};

struct SoundGroupSource {
    std::string name;
    f32 gain = 1.0f;
    std::vector<std::pair<f32, f32>> curve;
};

struct SoundLibrarySource {
    std::vector<SoundSource> sounds;
    std::vector<SoundGroupSource> groups;
};

// False with a message naming the line for anything the blob cannot hold.
bool parseSoundLibrary(const std::vector<u8>& text, const std::map<std::string, u64>& assetIds,
    SoundLibrarySource& library, std::string& error);

// The library blob the engine views in place. False with a message for a group
// name no group declares, or for more components than the records can index.
bool writeSoundLibraryBlob(const SoundLibrarySource& library, std::vector<u8>& blob, std::string& error);

// Text to blob in one step.
bool buildSoundLibraryBlob(
    const std::string& text, const std::map<std::string, u64>& assetIds, std::vector<u8>& blob, std::string& error);

// The asset the game reads: the blob in one binary chunk of type 0 (u64 chunk
// id 0, u32 byte count, the bytes).
std::vector<u8> wrapSoundLibraryChunk(const std::vector<u8>& blob);

// Turns the source of a "soundlibrary" asset into its chunk; other types are
// left as they are.
bool convertSoundLibraryContent(
    const ManifestAsset& asset, const std::map<std::string, u64>& assetIds, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
