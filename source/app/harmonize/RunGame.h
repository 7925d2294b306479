#pragma once
// The game's run: settings, asset handlers, the asset database with its depot
// and string table, the command line over the settings file, and the audio device.

#include "quern/Types.h"

#include <string>

namespace quern::assets {
class AssetHandlerRegistry;
}

namespace harmonize {

using quern::i32;

// Where the asset database was found and the folder its depot and string
// table are taken from.
struct AssetLocation {
    std::string databasePath;
    std::string assetDirectory; // ends with '/'
};

// "<base>/bin/assets.db", else "<base>/../bin/assets.db" normalised; fatal with
// the second path and " not found." when neither exists.
AssetLocation findAssetDatabase(const char* baseDirectory);

// The process's asset-handler registry, made from the default allocator with
// the DDS pixel-buffer handler as its first handler (once), and its release.
void createAssetHandlerRegistry();
void destroyAssetHandlerRegistry();

// The asset-type handlers after the registry's first, in the order the game
// registers them; a handler already registered is not added again.
void registerAssetHandlers(quern::assets::AssetHandlerRegistry& registry, const char* graphicsBackEnd);

// Runs the game from the process's current directory; returns 0, every
// failure inside is fatal.
i32 runGame(i32 argc, char** argv);

} // namespace harmonize
