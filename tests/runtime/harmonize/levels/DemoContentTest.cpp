// The demo content holds together as the game reads it: the world script
// names the levels and ends with the level list, the list's references and
// records point at those levels, and every level the player can reach loads
// with a player and a game camera.

#include "DemoContent.h"

#include "harmonize/components/Components.h"
#include "harmonize/levels/LevelList.h"

#include "quern/assets/AssetDatabase.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DepotSource.h"
#include "quern/containers/Array.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/io/FileSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace harmonize;
using harmonize::testing::assetId;
using quern::u32;
using quern::u64;
using quern::u8;

namespace {

// The world script in level-index order; the level list comes last.
const char* const kScript[] = { "levels/menu", "levels/start", "levels/playground", "levels/cliffs", "levels/caverns",
    "levels/final", "levels/list" };
constexpr i32 kScriptEntries = static_cast<i32>(sizeof kScript / sizeof kScript[0]);

class DemoContent : public ::testing::Test {
protected:
    // One build for the suite, in the blob form the game reads. CTest runs each
    // test in a process of its own, side by side: each process builds into a
    // folder of its own.
    static void SetUpTestSuite()
    {
        s_out = harmonize::testing::buildDemoContent("DemoContent-" + std::to_string(getpid()), "blob");
        s_database = new quern::assets::AssetDatabase;
        quern::FileSource file;
        file.open((s_out + "/assets.db").c_str());
        quern::serialize::BinaryPODToken token;
        ASSERT_TRUE(quern::assets::readAssetDatabase(file, token, *s_database));
        s_depot = new quern::assets::BlobDepot;
        s_depot->openIndex(s_out.c_str());
    }
    static void TearDownTestSuite()
    {
        delete s_depot;
        delete s_database;
        s_depot = nullptr;
        s_database = nullptr;
        std::filesystem::remove_all(s_out);
    }

    static std::vector<u8> assetBytes(u64 id)
    {
        quern::assets::DepotSource source(*s_depot, s_depot->open(id), true);
        std::vector<u8> bytes(source.size());
        source.read(bytes.data(), bytes.size());
        return bytes;
    }

    static u64 typeOf(u64 id)
    {
        const quern::assets::AssetRecord* record = s_database->findAsset(id);
        return record ? record->typeId : 0;
    }

    static std::vector<u64> scriptIds()
    {
        const std::vector<u8> bytes = assetBytes(s_database->findWorldScript());
        u32 count = 0;
        std::memcpy(&count, bytes.data(), sizeof count);
        std::vector<u64> ids(count);
        if (bytes.size() != sizeof count + count * sizeof(u64)) {
            ADD_FAILURE() << "the world script's size does not match its count " << count;
            return {};
        }
        std::memcpy(ids.data(), bytes.data() + sizeof count, count * sizeof(u64));
        return ids;
    }

    static void parseList(LevelList& list)
    {
        const std::vector<u8> bytes = assetBytes(assetId("levels/list"));
        std::string error;
        ASSERT_TRUE(list.parse(bytes.data(), bytes.size(), &error)) << error;
    }

    static std::string s_out;
    static quern::assets::AssetDatabase* s_database;
    static quern::assets::BlobDepot* s_depot;
};

std::string DemoContent::s_out;
quern::assets::AssetDatabase* DemoContent::s_database = nullptr;
quern::assets::BlobDepot* DemoContent::s_depot = nullptr;

// Loads one level as the game does, from the depot's bytes.
class LoadedLevel {
public:
    LoadedLevel(quern::assets::Depot& depot, const char* name)
    {
        quern::assets::DepotSource source(depot, depot.open(assetId(name)), true);
        quern::entity::loadWorld(source, quern::serialize::selectPODToken(source), world, 16, nullptr, name);
        world.start();
    }

    // The first active entity holding every component of `mask`.
    EntityHandle findActive(const quern::entity::ComponentMask& mask)
    {
        for (u64 i = 0; i < world.getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
            if (world.getComponentMask(i).containsAll(mask) && world.isActive(e))
                return e;
        }
        return {};
    }

    // Every material id that an entity's Renderer names.
    std::vector<u64> rendererMaterials()
    {
        quern::entity::ComponentMask renderer;
        renderer.set(Renderer::kType);
        std::vector<u64> ids;
        for (u64 i = 0; i < world.getSlotCount(); ++i)
            if (world.getComponentMask(i).containsAll(renderer)) {
                // Records are packed to 4 bytes: the id is read by value, never bound by reference.
                const u64 material = static_cast<Renderer*>(world.getComponent(i, Renderer::kType))->material;
                ids.push_back(material);
            }
        return ids;
    }

    quern::entity::World world;
};

TEST_F(DemoContent, TheWorldScriptListsTheLevelsThenTheLevelList)
{
    ASSERT_NE(s_database->findWorldScript(), 0u);
    const std::vector<u64> ids = scriptIds();
    ASSERT_EQ(ids.size(), static_cast<size_t>(kScriptEntries));
    for (i32 i = 0; i < kScriptEntries; ++i) {
        SCOPED_TRACE(kScript[i]);
        EXPECT_EQ(ids[i], assetId(kScript[i]));
        const char* type = i + 1 < kScriptEntries ? "level" : "levellist";
        EXPECT_EQ(typeOf(ids[i]), quern::packName(type));
        // Replay files are named after the file-name part of a level's name.
        EXPECT_EQ(std::string(kScript[i]).find('.'), std::string::npos);
    }
}

TEST_F(DemoContent, TheLevelListPointsAtTheScriptsLevels)
{
    LevelList list;
    ASSERT_NO_FATAL_FAILURE(parseList(list));
    EXPECT_EQ(list.worldEntryCount(), kScriptEntries - 1);

    const struct {
        const u8* reference;
        const char* level;
    } references[] = {
        { list.menuLevel(), "levels/menu" },
        { list.startLevel(), "levels/start" },
        { list.finalLevel(), "levels/final" },
    };
    for (const auto& r : references) {
        SCOPED_TRACE(r.level);
        ASSERT_NE(r.reference, nullptr);
        const i32 index = LevelList::referenceLevelIndex(r.reference);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, list.worldEntryCount());
        EXPECT_STREQ(kScript[index], r.level);
    }
    EXPECT_EQ(list.titleLevel(), nullptr);

    // The start level's textures fill the first slots, in order.
    const char* const startTextures[] = { "textures/sky.ppm", "textures/stars.ppm" };
    for (i32 i = 0; i < LevelList::kStartTextureCount; ++i) {
        const u64 id = LevelList::startTextureId(list.startLevel(), i);
        if (i < 2) {
            EXPECT_EQ(id, assetId(startTextures[i]));
            EXPECT_EQ(typeOf(id), quern::packName("texture"));
        } else {
            EXPECT_EQ(id, 0u) << "texture slot " << i;
        }
    }

    ASSERT_NE(list.globalRecord(), nullptr);
    const u64 font = list.globalAssetId(LevelList::kOverlayFontOffset);
    EXPECT_EQ(font, assetId("fonts/hud.font"));
    EXPECT_EQ(typeOf(font), quern::packName("font"));
    for (u64 offset : LevelList::kGlobalAssetOffsets) {
        if (offset != LevelList::kOverlayFontOffset) {
            EXPECT_EQ(list.globalAssetId(offset), 0u) << "global offset " << offset;
        }
    }
}

TEST_F(DemoContent, LevelRecordsNameThePlayableLevels)
{
    LevelList list;
    ASSERT_NO_FATAL_FAILURE(parseList(list));
    const struct {
        const char* level;
        const char* name;
        i32 chapter;
        u32 gameValue;
    } playable[] = {
        { "levels/playground", "Playground", 1, 0 },
        { "levels/cliffs", "The Cliffs", 1, 0 },
        { "levels/caverns", "Crystal Caverns", 2, 3 },
    };
    ASSERT_EQ(list.levelRecordCount(), 3);
    std::set<i32> ids;
    for (i32 i = 0; i < list.levelRecordCount(); ++i) {
        SCOPED_TRACE(playable[i].level);
        const u8* record = list.levelRecord(i);
        const i32 index = LevelList::recordWorldEntryIndex(record);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, list.worldEntryCount());
        EXPECT_STREQ(kScript[index], playable[i].level);
        EXPECT_STREQ(LevelList::recordName(record), playable[i].name);
        EXPECT_EQ(LevelList::recordChapter(record), playable[i].chapter);
        EXPECT_NE(LevelList::recordLevelId(record), 0);
        EXPECT_TRUE(ids.insert(LevelList::recordLevelId(record)).second) << "repeated level id";
        // The game finds a level's record through its world entry: entries
        // must not repeat, or another level would take this record.
        EXPECT_EQ(list.findLevelOfIndex(index), record);
        EXPECT_EQ(s_database->findAsset(assetId(playable[i].level))->gameValue, playable[i].gameValue);
    }
    for (const char* other : { "levels/menu", "levels/start", "levels/final" }) {
        for (i32 index = 0; index < list.worldEntryCount(); ++index) {
            if (std::strcmp(kScript[index], other) == 0) {
                EXPECT_EQ(list.findLevelOfIndex(index), nullptr) << other;
            }
        }
    }
}

TEST_F(DemoContent, EveryLevelThePlayerReachesLoadsWithAPlayerAndAGameCamera)
{
    for (const char* name : { "levels/start", "levels/playground", "levels/cliffs", "levels/caverns", "levels/final" }) {
        SCOPED_TRACE(name);
        LoadedLevel level(*s_depot, name);
        EXPECT_TRUE(matchesComponentSizeTable(level.world));
        const EntityHandle player = level.findActive(kPlayerMask);
        ASSERT_TRUE(isSomeEntity(player));
        EXPECT_TRUE(isPlayerEntity(level.world, player));
        EXPECT_TRUE(isSomeEntity(level.findActive(kGameCameraMask)));
    }
}

TEST_F(DemoContent, TheMenuLevelHasItsCameraAndNoPlayer)
{
    LoadedLevel menu(*s_depot, "levels/menu");
    EXPECT_TRUE(matchesComponentSizeTable(menu.world));
    EXPECT_TRUE(isSomeEntity(menu.findActive(kGameCameraMask)));
    EXPECT_FALSE(isSomeEntity(menu.findActive(kPlayerMask)));
}

// A level load preloads its dependencies: each level brings a texture and a
// material (whose loads end in main-thread stages), and the materials its
// renderers name are among them.
TEST_F(DemoContent, LevelsDependOnTheTexturesAndMaterialsTheyShow)
{
    for (i32 i = 0; i + 1 < kScriptEntries; ++i) {
        SCOPED_TRACE(kScript[i]);
        quern::containers::Array dependencies(sizeof(u64), alignof(u64));
        s_database->collectDependencies(assetId(kScript[i]), dependencies);
        std::set<u64> ids;
        std::set<u64> types;
        for (u64 d = 0; d < dependencies.count(); ++d) {
            ids.insert(dependencies.at<u64>(d));
            types.insert(typeOf(dependencies.at<u64>(d)));
        }
        EXPECT_TRUE(types.count(quern::packName("texture")));
        EXPECT_TRUE(types.count(quern::packName("material")));
        LoadedLevel level(*s_depot, kScript[i]);
        const std::vector<u64> materials = level.rendererMaterials();
        EXPECT_FALSE(materials.empty());
        for (u64 material : materials)
            EXPECT_TRUE(ids.count(material)) << std::hex << material << " is not a dependency";
    }
}

TEST_F(DemoContent, TheGamesTextsAreBuilt)
{
    quern::FileSource file;
    file.open((s_out + "/assets.l10n").c_str());
    quern::serialize::StringTable table;
    quern::serialize::readStringTable(file, table, nullptr);
    const char* key = "level.caverns";
    const char* text = table.find(quern::strings::murmurHash64A(key, std::strlen(key), quern::strings::kInternerSeed));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Crystal Caverns");
    table.release();
}

} // namespace
