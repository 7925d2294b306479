#pragma once
// A game of one level, the demo content's playground, with its level list and
// the world script naming both, built by the content tool into a folder of
// its own; the App tests run on it.

#include "ContentBuilder.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/io/FilePath.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "support/FileContents.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace harmonize::testing {

struct PlaygroundGame {
    // Builds into <test binary folder>/<prefix><test name>; a failure is a
    // test failure.
    void build(const std::string& prefix)
    {
        namespace fs = std::filesystem;
        root = fs::path(QUERN_TEST_BINARY_DIR)
            / (prefix + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root / "source/levels");
        fs::copy_file(fs::path(QUERN_CONTENT_DIR) / "levels/playground", root / "source/levels/playground");
        quern::strings::String scriptPath;
        ASSERT_TRUE(quern::io::exportScenesListPath("game", scriptPath));
        fs::create_directories((root / "source" / scriptPath.c_str()).parent_path());
        std::ofstream(root / "source" / scriptPath.c_str(), std::ios::binary) << "levels/playground\nlevels/list\n";
        std::ofstream(root / "source/levels/list") << "world 0 0\nlevel 0 id 1 name Playground\n";
        std::ofstream(root / "manifest.txt") << "levels/playground level\nlevels/list levellist\n"
                                             << scriptPath.c_str() << " worldscript\n";
        quern::assetbuild::BuildOptions options;
        options.manifestPath = (root / "manifest.txt").string();
        options.sourceDirectory = (root / "source").string();
        options.outDirectory = (root / "out").string();
        options.depotKind = "files";
        options.databaseName = "game";
        std::string error;
        ASSERT_TRUE(quern::assetbuild::buildContent(options, error)) << error;
        databaseBytes = quern::testing::readFile(root / "out/assets.db");
        quern::StringSource source(databaseBytes.data(), databaseBytes.size());
        quern::serialize::BinaryPODToken token;
        ASSERT_TRUE(quern::assets::readAssetDatabase(source, token, database));
        depot = std::make_unique<quern::assets::FileSystemDepot>((root / "out").string().c_str());
    }

    std::filesystem::path root;
    std::string databaseBytes;
    quern::assets::AssetDatabase database;
    std::unique_ptr<quern::assets::FileSystemDepot> depot;
};

} // namespace harmonize::testing
