#pragma once
// A game of one level, the demo content's playground with everything it
// draws, its level list and the world script naming both, built by the
// content tool into a folder of its own; the App tests run on it with the
// game's asset handlers.

#include "harmonize/RunGame.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/io/FilePath.h"
#include "support/BuiltContent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace harmonize::testing {

// Writes the game's sources and builds them into <test binary folder>/<prefix>
// <test name>/out; a failure is a test failure.
inline void buildPlaygroundGame(quern::testing::BuiltContent& content, const std::string& prefix)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::path(QUERN_TEST_BINARY_DIR)
        / (prefix + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy(QUERN_CONTENT_DIR, root / "source", fs::copy_options::recursive);
    quern::strings::String scriptPath;
    ASSERT_TRUE(quern::io::exportScenesListPath("game", scriptPath));
    std::ofstream(root / "source" / scriptPath.c_str(), std::ios::binary) << "levels/playground\nlevels/list\n";
    std::ofstream(root / "source/levels/list") << "world 0 0\nlevel 0 id 1 name Playground\n";
    // Every asset of the demo but the other levels, their list and script.
    std::ifstream demo(fs::path(QUERN_CONTENT_DIR) / "assets.txt");
    std::ofstream manifest(root / "manifest.txt");
    for (std::string line; std::getline(demo, line);) {
        const bool level = line.rfind("levels/", 0) == 0;
        if ((!level || line.rfind("levels/playground ", 0) == 0) && line.find(" worldscript") == std::string::npos)
            manifest << line << "\n";
    }
    manifest << "levels/list levellist\n" << scriptPath.c_str() << " worldscript\n";
    manifest.close();
    std::string error;
    ASSERT_TRUE(content.build(root / "manifest.txt", root / "source", root / "out", error, "game")) << error;
}

// The game's asset handlers, for the null back end unless told otherwise,
// installed for a test's lifetime.
class GameAssetHandlers {
public:
    explicit GameAssetHandlers(const char* graphicsBackEnd = "null")
    {
        createAssetHandlerRegistry();
        registerAssetHandlers(*quern::assets::AssetHandlerRegistry::instance(), graphicsBackEnd);
    }
    ~GameAssetHandlers() { destroyAssetHandlerRegistry(); }
    GameAssetHandlers(const GameAssetHandlers&) = delete;
    GameAssetHandlers& operator=(const GameAssetHandlers&) = delete;
};

} // namespace harmonize::testing
