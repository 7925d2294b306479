#pragma once
// A game of one level, the demo content's playground, with its level list and
// the world script naming both, built by the content tool into a folder of
// its own; the App tests run on it.

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
    fs::create_directories(root / "source/levels");
    fs::copy_file(fs::path(QUERN_CONTENT_DIR) / "levels/playground", root / "source/levels/playground");
    quern::strings::String scriptPath;
    ASSERT_TRUE(quern::io::exportScenesListPath("game", scriptPath));
    fs::create_directories((root / "source" / scriptPath.c_str()).parent_path());
    std::ofstream(root / "source" / scriptPath.c_str(), std::ios::binary) << "levels/playground\nlevels/list\n";
    std::ofstream(root / "source/levels/list") << "world 0 0\nlevel 0 id 1 name Playground\n";
    std::ofstream(root / "manifest.txt") << "levels/playground level\nlevels/list levellist\n"
                                         << scriptPath.c_str() << " worldscript\n";
    std::string error;
    ASSERT_TRUE(content.build(root / "manifest.txt", root / "source", root / "out", error, "game")) << error;
}

} // namespace harmonize::testing
