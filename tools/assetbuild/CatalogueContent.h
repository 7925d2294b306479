#pragma once
// Message catalogues: a level's translations, written as a gettext PO source
// and compiled with msgfmt into the MO file the engine imports.

#include "AssetManifest.h"

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// Turns the PO source bytes of a "catalogue" asset into an MO catalogue, read
// back with the engine's importer; other types are left as they are. False
// with a message for a source msgfmt refuses or a catalogue the engine could
// not import.
bool convertCatalogueContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild
