#pragma once
// Writes "assets.db" with the engine's binary POD token: version 2, one
// 304-byte record per asset, the dependency pairs, no extra records and a
// string-table chunk.

#include "ContentBuilder.h"

#include <ostream>
#include <string>
#include <vector>

namespace quern::assetbuild {

inline constexpr u64 kAssetDatabaseChunkId = 0x03c584e477620154ull;
inline constexpr u32 kAssetDatabaseVersion = 2;
inline constexpr u64 kAssetNameCapacity = 256;

// False with a message for a database or asset name of more than 255 bytes.
// `strings` fill the string table (repeated texts once), keyed as the
// engine's interner keys them.
bool writeAssetDatabase(std::ostream& out, const std::string& databaseName, const std::vector<BuiltAsset>& assets,
                        const std::vector<std::string>& strings, std::string& error);

} // namespace quern::assetbuild
