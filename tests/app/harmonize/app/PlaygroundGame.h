#pragma once
// A game of one level, the demo content's playground with everything it
// draws, its level list and the world script naming both, built by the
// content tool into a folder of its own; the App tests run on it with the
// game's asset handlers.

#include "harmonize/RunGame.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/io/FilePath.h"
#include "support/BuiltContent.h"
#include "support/harmonize/DemoLevelContent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace harmonize::testing {

// Builds the playground game into <test binary folder>/<prefix><test name>/out;
// a failure is a test failure.
inline void buildPlaygroundGame(quern::testing::BuiltContent& content, const std::string& prefix)
{
    const std::filesystem::path root = std::filesystem::path(QUERN_TEST_BINARY_DIR)
        / (prefix + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::string error;
    ASSERT_TRUE(buildPlaygroundContent(content, root, QUERN_CONTENT_DIR, error)) << error;
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
