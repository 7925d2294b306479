#pragma once
// A demo level, the playground by default, as a game of one level: everything it draws,
// its level list and the world script naming both, built by the content tool
// into a folder of its own. Shared by the App tests and the benchmarks.

#include "quern/io/FilePath.h"
#include "support/BuiltContent.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

namespace harmonize::testing {

// Writes the sources of a game of the one demo level `level` (a name under
// levels/) under `root`/source and builds them into `root`/out; false with
// `error` set when the build fails.
inline bool buildDemoLevelContent(quern::testing::BuiltContent& content, const std::filesystem::path& root,
    const std::filesystem::path& contentDirectory, const std::string& level, std::string& error)
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
    std::ofstream(root / "source" / scriptPath.c_str(), std::ios::binary) << "levels/" << level << "\nlevels/list\n";
    std::string name = level;
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    // The global assets (the HUD font, the counter's icon, the prompt
    // atlases) as the demo's own list names them.
    std::ofstream(root / "source/levels/list")
        << "global 36 fonts/hud.font\nglobal 20 textures/counter.glyphs\nglobal 52 textures/prompts_ps4.atlas\n"
           "global 60 textures/prompts_default.atlas\nglobal 68 textures/prompts_xboxone.atlas\n"
           "world 0 0\nlevel 0 id 1 name "
        << name << "\n";
    // Every asset of the demo but the other levels, their list and script.
    std::ifstream demo(contentDirectory / "assets.txt");
    std::ofstream manifest(root / "manifest.txt");
    for (std::string line; std::getline(demo, line);) {
        const bool other = line.rfind("levels/", 0) == 0 && line.rfind("levels/" + level + " ", 0) != 0;
        if (!other && line.find(" worldscript") == std::string::npos)
            manifest << line << "\n";
    }
    manifest << "levels/list levellist\n" << scriptPath.c_str() << " worldscript\n";
    manifest.close();
    return content.build(root / "manifest.txt", root / "source", root / "out", error, "game");
}

inline bool buildPlaygroundContent(quern::testing::BuiltContent& content, const std::filesystem::path& root,
    const std::filesystem::path& contentDirectory, std::string& error)
{
    return buildDemoLevelContent(content, root, contentDirectory, "playground", error);
}

} // namespace harmonize::testing
