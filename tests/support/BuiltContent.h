#pragma once
// Content built by the content tool into a file-system depot, with its asset
// database read back: what tests and benchmarks that load levels start from.

#include "ContentBuilder.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace quern::testing {

struct BuiltContent {
    // Builds `manifest` over the `source` folder into `out`. False with the
    // tool's message, or when the database does not read back.
    bool build(const std::filesystem::path& manifest, const std::filesystem::path& source,
        const std::filesystem::path& out, std::string& error, const char* databaseName = nullptr)
    {
        assetbuild::BuildOptions options;
        options.manifestPath = manifest.string();
        options.sourceDirectory = source.string();
        options.outDirectory = out.string();
        options.depotKind = "files";
        if (databaseName)
            options.databaseName = databaseName;
        if (!assetbuild::buildContent(options, error))
            return false;
        std::ifstream in(out / "assets.db", std::ios::binary);
        databaseBytes.assign(std::istreambuf_iterator<char>(in), {});
        StringSource bytes(databaseBytes.data(), databaseBytes.size());
        serialize::BinaryPODToken token;
        if (!assets::readAssetDatabase(bytes, token, database)) {
            error = "the built asset database does not read back";
            return false;
        }
        depot = std::make_unique<assets::FileSystemDepot>(out.string().c_str());
        return true;
    }

    std::string databaseBytes;
    assets::AssetDatabase database;
    std::unique_ptr<assets::FileSystemDepot> depot;
};

} // namespace quern::testing
