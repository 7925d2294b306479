#include "WorldFileTestSupport.h"
#include "WorldTestSupport.h"

#include "ContentBuilder.h"

#include "quern/assets/AssetDatabase.h"
#include "quern/assets/DepotSource.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/LevelLoader.h"
#include "quern/entity/WorldFile.h"
#include "quern/entity/WorldSwapper.h"
#include "quern/io/FilePath.h"
#include "quern/io/FileSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Hashes.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quern;
using namespace quern::entity;
using namespace quern::entity::testing;

namespace {

namespace fs = std::filesystem;

const std::string kTextSource = std::string(QUERN_TEST_SOURCE_DIR) + "/data/testlevel.world";

u64 assetId(const std::string& name) { return strings::murmurHash64A(name.data(), name.size(), 0); }

using quern::testing::CountingAllocator;

// Reads the level at once, as the game's worker would later, and notes what it was given.
class ReadingLoader : public LevelLoader {
public:
    void* load(
        World& world, u64 worldAssetId, void* userData, assets::Depot& depot, memory::Allocator* allocator) override
    {
        calls.push_back({ &world, worldAssetId, userData, allocator });
        if (!readLevels)
            return &calls.back();
        assets::DepotSource source(depot, depot.open(worldAssetId), true);
        loadWorld(source, serialize::selectPODToken(source), world, 2, allocator, "level");
        return &calls.back();
    }

    struct Call {
        World* world;
        u64 id;
        void* userData;
        memory::Allocator* allocator;
    };
    std::vector<Call> calls;
    bool readLevels = true;
};

// A content build with two levels and the world script that lists them,
// ended by a level list of one world entry per level, or with a script given
// as raw bytes.
class SwapperContent : public ::testing::Test {
protected:
    void build(const std::string& scriptText, const std::vector<u8>* rawScript = nullptr)
    {
        root = fs::path(QUERN_TEST_BINARY_DIR)
            / ("swapper-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root / "source/levels");
        fs::copy_file(kTextSource, root / "source/levels/first.world");
        fs::copy_file(kTextSource, root / "source/levels/second.world");
        strings::String scriptPath;
        ASSERT_TRUE(io::exportScenesListPath("game", scriptPath));
        fs::create_directories((root / "source" / scriptPath.c_str()).parent_path());
        std::ofstream script(root / "source" / scriptPath.c_str(), std::ios::binary);
        std::string line;
        if (rawScript)
            script.write(
                reinterpret_cast<const char*>(rawScript->data()), static_cast<std::streamsize>(rawScript->size()));
        else
            script << scriptText << "levels/list\n";
        script.close();
        std::ofstream list(root / "source/levels/list");
        for (std::istringstream lines(scriptText); std::getline(lines, line);)
            if (line.find_first_not_of(" ") != std::string::npos && line[0] != '#')
                list << "world 0 0\n";
        list.close();
        std::ofstream(root / "manifest.txt") << "levels/first.world world\nlevels/second.world worldtext\n"
                                             << "levels/list levellist\n"
                                             << scriptPath.c_str() << (rawScript ? " rawscript\n" : " worldscript\n");
        assetbuild::BuildOptions options;
        options.manifestPath = (root / "manifest.txt").string();
        options.sourceDirectory = (root / "source").string();
        options.outDirectory = (root / "out").string();
        options.depotKind = "files";
        options.databaseName = "game";
        std::string error;
        ASSERT_TRUE(assetbuild::buildContent(options, error)) << error;

        const std::string dbBytes = readFile((root / "out/assets.db").string());
        StringSource dbSource(dbBytes.data(), dbBytes.size());
        serialize::BinaryPODToken token;
        ASSERT_TRUE(assets::readAssetDatabase(dbSource, token, database));
        depot = std::make_unique<assets::FileSystemDepot>((root / "out").string().c_str());
    }

    fs::path root;
    assets::AssetDatabase database;
    std::unique_ptr<assets::FileSystemDepot> depot;
};

std::vector<u8> scriptBytes(u32 count, std::vector<u64> ids)
{
    std::vector<u8> bytes(4);
    std::memcpy(bytes.data(), &count, 4);
    for (u64 id : ids) {
        bytes.resize(bytes.size() + 8);
        std::memcpy(bytes.data() + bytes.size() - 8, &id, 8);
    }
    return bytes;
}

} // namespace

TEST_F(SwapperContent, ScriptListsTheLevelsInPlayOrder)
{
    build("# play order\nlevels/second.world\n\nlevels/first.world\n");
    WorldSwapper swapper(&database, depot.get());
    swapper.loadScript();
    ASSERT_EQ(swapper.getLevelCount(), 3u);
    EXPECT_EQ(swapper.getLevelId(0), assetId("levels/second.world"));
    EXPECT_EQ(swapper.getLevelId(2), assetId("levels/list"));
    EXPECT_EQ(swapper.currentLevel, -1);
    EXPECT_EQ(swapper.findLevel("levels/second.world"), 0);
    EXPECT_EQ(swapper.findLevel("levels/first.world"), 1);
    EXPECT_EQ(swapper.findLevel("levels/third.world"), -1);
}

TEST_F(SwapperContent, LevelsLoadThroughTheLoaderAndSystemsAttachOncePerLevelLifetime)
{
    build("levels/first.world\nlevels/second.world\n");
    CountingAllocator blockAllocator, levelHeap;
    Journal journal;
    {
        WorldSwapper swapper(&database, depot.get());
        swapper.loadScript();
        swapper.createWorlds(&blockAllocator);
        ASSERT_EQ(swapper.getWorldCount(), 3u);
        EXPECT_GE(blockAllocator.live, 1);
        for (u64 w = 0; w < 3; ++w)
            EXPECT_EQ(swapper.worldAllocators[w], &blockAllocator);
        swapper.setWorldAllocator(1, &levelHeap);
        swapper.getWorld(1).addSystem(new RecordingSystem("S", journal));

        ReadingLoader loader;
        int userData = 0;
        LogCapture info(3);
        void* result = swapper.loadLevel(1, loader, &userData, 1);
        ASSERT_EQ(loader.calls.size(), 1u);
        EXPECT_EQ(result, &loader.calls.back());
        EXPECT_EQ(loader.calls[0].world, &swapper.getWorld(1));
        EXPECT_EQ(loader.calls[0].id, assetId("levels/second.world"));
        EXPECT_EQ(loader.calls[0].userData, &userData);
        EXPECT_EQ(loader.calls[0].allocator, &levelHeap);
        EXPECT_EQ(swapper.lastLoadedLevel, 1);
        EXPECT_NE(info.text().find("Loading level levels/second.world"), std::string::npos) << info.text();
        EXPECT_GT(levelHeap.live, 0); // the level's store came from the world's heap
        EXPECT_STREQ(swapper.getWorld(1).getEntityName(EntityHandle::make(0, 1)), "Player");

        // A second level into the same world does not attach again until the world is cleared.
        loader.readLevels = false;
        swapper.loadLevel(0, loader, nullptr, 1);
        loader.readLevels = true;
        swapper.getWorld(1).clear();
        swapper.loadLevel(0, loader, nullptr, 1);
        EXPECT_EQ(swapper.lastLoadedLevel, 0);
        const Journal expected = { "S:attach", "S:detach", "S:attach" };
        EXPECT_EQ(journal, expected);
    }
    // Destroying the swapper cleared the worlds, deleted their systems and gave every block back.
    EXPECT_EQ(journal.back(), "S:deleted");
    EXPECT_EQ(blockAllocator.live, 0);
    EXPECT_EQ(levelHeap.live, 0);
}

TEST_F(SwapperContent, LevelMissingFromTheDatabaseIsLoggedByItsIdInHex)
{
    build("levels/first.world\n");
    WorldSwapper swapper(&database, depot.get());
    swapper.loadScript();
    swapper.createWorlds(nullptr);
    // A level the script names but the database does not.
    swapper.script.append(assetId("levels/first.world"));
    swapper.script.at<u64>(1) = 0x00c0ffee12345678ull;

    class NoLoader : public LevelLoader {
        void* load(World&, u64, void*, assets::Depot&, memory::Allocator*) override { return nullptr; }
    } loader;
    LogCapture info(3);
    swapper.loadLevel(1, loader, nullptr, 0);
    EXPECT_NE(info.text().find("Loading level 0x00c0ffee12345678"), std::string::npos) << info.text();
}

TEST_F(SwapperContent, LevelOrWorldOutsideTheRangeIsFatal)
{
    build("levels/first.world\nlevels/second.world\n");
    WorldSwapper swapper(&database, depot.get());
    swapper.loadScript();
    swapper.createWorlds(nullptr);
    ReadingLoader loader;
    EXPECT_DEATH(swapper.loadLevel(3, loader, nullptr, 0), "Level index 3 is outside the world script \\(3 levels\\)");
    EXPECT_DEATH(swapper.loadLevel(-1, loader, nullptr, 0), "Level index -1 is outside the world script");
    EXPECT_DEATH(swapper.loadLevel(0, loader, nullptr, 3), "Can't load a level into world 3: there are 3 worlds");
}

TEST_F(SwapperContent, DamagedScriptsAreFatal)
{
    struct Case {
        const char* what;
        std::vector<u8> bytes;
        const char* message;
    };
    const Case cases[] = {
        { "no levels", scriptBytes(0, {}), "No worlds in script" },
        { "second id 0", scriptBytes(2, { assetId("levels/first.world"), 0 }), "Invalid world in script" },
        { "count beyond the bytes", scriptBytes(5, { assetId("levels/first.world") }),
            "World script lists 5 levels but holds only 1" },
        { "count far beyond the bytes", scriptBytes(0xffffffffu, {}), "World script lists 4294967295 levels" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build("", &c.bytes);
        WorldSwapper swapper(&database, depot.get());
        EXPECT_DEATH(swapper.loadScript(), c.message);
    }
}

TEST(WorldSwapperDeathTest, DatabaseWithoutScriptIsFatal)
{
    assets::AssetDatabase empty;
    assets::FileSystemDepot depot(QUERN_TEST_BINARY_DIR);
    WorldSwapper swapper(&empty, &depot);
    EXPECT_DEATH(swapper.loadScript(), "Couldn't open script");
}

TEST(WorldScriptTool, RefusesEmptyScriptsAndUnknownLevels)
{
    const std::map<std::string, u64> ids = { { "a.world", 1 }, { "b.world", 2 }, { "list", 3 } };
    assetbuild::WorldScriptAssets known;
    known.typeWords = { { "a.world", "world" }, { "b.world", "worldtext" }, { "list", "levellist" } };
    known.levelListEntries = { { "list", 2 } };
    std::vector<u8> out;
    std::string error;
    ASSERT_TRUE(assetbuild::buildWorldScript("b.world\n a.world # the end\nlist\n", ids, known, out, error)) << error;
    EXPECT_EQ(out, scriptBytes(3, { 2, 1, 3 }));
    EXPECT_FALSE(assetbuild::buildWorldScript("# nothing\n\n", ids, known, out, error));
    EXPECT_EQ(error, "the world script names no level");
    EXPECT_FALSE(assetbuild::buildWorldScript("a.world\nc.world\nlist\n", ids, known, out, error));
    EXPECT_EQ(error, "world script line 2: level c.world is not in the manifest");
}
