#pragma once
// Builds what the engine reads from a manifest and a folder of source files:
// the file-system depot tree, or "assets.index" with its ".blob" files, and
// the asset database.

#include "AssetManifest.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

struct BuiltAsset {
    std::string name;
    u64 assetId = 0; // MurmurHash64A of the name, seed 0
    u64 typeId = 0;  // the packed type word
    std::vector<u8> bytes;
    std::vector<u64> dependencies;
    u64 blobId = 0; // packed blob name; 0 = "misc"
    bool runLength = false;
    u32 gameValue = 0; // the manifest's gamevalue=, into the database record
};

// Reads every asset's file and resolves names to ids. False with a message
// for a missing file, a type or blob word that is no packed name, a repeated
// asset or a dependency the manifest does not list.
bool loadAssets(const Manifest& manifest, const std::string& sourceDirectory, std::vector<BuiltAsset>& assets,
                std::string& error);

// "<out>/<2 hex digits>/<14 hex digits>" per asset.
bool writeFileSystemDepot(const std::vector<BuiltAsset>& assets, const std::string& outDirectory,
                          std::string& error);

// "<out>/assets.index" and one ".blob" file per blob name, entries in
// manifest order.
bool writeBlobDepot(const std::vector<BuiltAsset>& assets, const std::string& outDirectory, std::string& error);

// The whole build: reads the manifest, writes the depot of the chosen kind
// ("files" or "blob"), and "assets.db" and "assets.l10n" beside it.
struct BuildOptions {
    std::string manifestPath;
    std::string sourceDirectory;
    std::string outDirectory;
    std::string depotKind = "blob";
    std::string databaseName;
    std::vector<std::string> strings; // the database's string table
    std::string localisedTextPath; // "key = text" lines for "assets.l10n"; empty: an empty table
};
bool buildContent(const BuildOptions& options, std::string& error);

} // namespace quern::assetbuild
