#pragma once
// The content tool's input: a plain-text manifest, one asset a line,
//
//   <asset name> <type word> [<dependency name> ...] [blob=<blob name>] [codec=rle] [gamevalue=<u32>]
//       [stage=vertex|fragment]
//
// '#' starts a comment; blank lines are skipped. The asset's bytes are the file
// of the same name below the source folder.

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

struct ManifestAsset {
    std::string name;
    std::string type;
    std::vector<std::string> dependencies;
    std::string blob;  // empty: "misc"
    std::string codec; // empty: stored as is; "rle": the run-length test codec
    u32 gameValue = 0; // the database record's value for the game
    std::string stage; // a shader program's stage word; empty when not given
    u32 line = 0;
};

struct Manifest {
    std::vector<ManifestAsset> assets;
};

// False with a message naming the line for a line without a type word, with
// an unknown option or with a game value that is no 32-bit number (decimal or
// 0x-hex).
bool parseManifest(const std::string& text, Manifest& manifest, std::string& error);

} // namespace quern::assetbuild
