#pragma once
// The demo content's playground as a game of one level: everything it draws,
// its level list and the world script naming both, built by the content tool
// into a folder of its own. Shared by the App tests and the benchmarks.

#include "quern/io/FilePath.h"
#include "support/BuiltContent.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace harmonize::testing {

// Writes the game's sources under `root`/source and builds them into
// `root`/out; false with `error` set when the build fails.
inline bool buildPlaygroundContent(quern::testing::BuiltContent& content, const std::filesystem::path& root,
    const std::filesystem::path& contentDirectory, std::string& error)
{
    namespace fs = std::filesystem;
    fs::remove_all(root);
    fs::create_directories(root);
    fs::copy(contentDirectory, root / "source", fs::copy_options::recursive);
    quern::strings::String scriptPath;
    if (!quern::io::exportScenesListPath("game", scriptPath)) {
        error = "no world script path";
        return false;
    }
    std::ofstream(root / "source" / scriptPath.c_str(), std::ios::binary) << "levels/playground\nlevels/list\n";
    std::ofstream(root / "source/levels/list") << "world 0 0\nlevel 0 id 1 name Playground\n";
    // Every asset of the demo but the other levels, their list and script.
    std::ifstream demo(contentDirectory / "assets.txt");
    std::ofstream manifest(root / "manifest.txt");
    for (std::string line; std::getline(demo, line);) {
        const bool level = line.rfind("levels/", 0) == 0;
        if ((!level || line.rfind("levels/playground ", 0) == 0) && line.find(" worldscript") == std::string::npos)
            manifest << line << "\n";
    }
    manifest << "levels/list levellist\n" << scriptPath.c_str() << " worldscript\n";
    manifest.close();
    return content.build(root / "manifest.txt", root / "source", root / "out", error, "game");
}

} // namespace harmonize::testing
