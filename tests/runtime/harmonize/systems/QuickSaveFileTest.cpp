#include "harmonize/systems/QuickSaveFile.h"

#include "SaveGameLevel.h"

#include "fuzz/QuickSaveFuzzWorld.h"
#include "harmonize/Settings.h"
#include "harmonize/input/MemoryByteSink.h"
#include "quern/assets/DepotSource.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/entity/WorldSnapshot.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Hashes.h"
#include "support/BuiltContent.h"
#include "support/FileContents.h"
#include "support/LogCapture.h"
#include "support/SoftAssertRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;
using quern::entity::World;
using quern::entity::WorldSnapshot;
using testing::kLevelAssetId;
using testing::SaveGameLevel;
using Bytes = std::vector<u8>;

constexpr const char* kWrongLevel = "Persistent snapshot has the wrong size for this level, discarding save";

fs::path testFolder(const char* kind)
{
    return fs::path(QUERN_TEST_BINARY_DIR) / kind
        / ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

Bytes toBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void putLittleEndian(Bytes& bytes, u64 at, u64 value, quern::u32 count)
{
    for (quern::u32 i = 0; i < count; ++i)
        bytes[at + i] = static_cast<u8>(value >> (8 * i));
}

u64 getLittleEndian(const Bytes& bytes, u64 at, quern::u32 count)
{
    u64 value = 0;
    for (quern::u32 i = 0; i < count; ++i)
        value |= u64 { bytes[at + i] } << (8 * i);
    return value;
}

// Worlds of one level: a player and a few things beside it, the player at `x`.
class QuickSaveFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        Settings::Development.persistentQuickSave = true;
        Settings::Development.quickSaveFile = "level.save";
        folder = testFolder("quicksave");
        fs::remove_all(folder);
        fs::create_directories(folder);
        files.setDirectory(folder.c_str());
        files.setQuiet(true);
    }
    void TearDown() override { Settings::resetToDefaults(); }

    std::unique_ptr<SaveGameLevel> startLevel(f32 x, u64 assetId = kLevelAssetId, u64 capacity = 32)
    {
        auto level = std::make_unique<SaveGameLevel>(&files, AppEventQueueStorage::kInitialCapacity, capacity);
        level->context.levelAssetId = assetId;
        level->scene.add("ground", { "Transform", "Race" });
        player = level->addPlayer(x);
        level->scene.add("lamp", { "Transform", "Light" }, player);
        level->scene.start();
        return level;
    }
    // The file a save of the level writes.
    Bytes savedFile()
    {
        auto level = startLevel(1.0f);
        level->system->createQuickSave(level->scene.world());
        return toBytes(quern::testing::readFile(path()));
    }
    fs::path path() const { return folder / Settings::Development.quickSaveFile; }
    void writeFile(const Bytes& bytes)
    {
        std::ofstream(path(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    fs::path folder;
    quern::io::HomeFileSystem files;
    EntityHandle player;
};

TEST_F(QuickSaveFileTest, TheSameLevelStartedAgainRestoresTheFile)
{
    Bytes file;
    {
        auto level = startLevel(1.0f);
        World& world = level->scene.world();
        level->system->createQuickSave(world);
        file = toBytes(quern::testing::readFile(path()));
        const u64 n = world.getSlotCount();
        ASSERT_EQ(file.size(), 12 + world.storeSize + 17 * n + 8);
        EXPECT_EQ(getLittleEndian(file, 0, 4), n);
        EXPECT_EQ(getLittleEndian(file, 4, 8), world.storeSize);
        EXPECT_EQ(std::memcmp(file.data() + 12, world.store, world.storeSize), 0);
        EXPECT_EQ(file[12 + world.storeSize + player.index()], 3); // active
        EXPECT_EQ(getLittleEndian(file, file.size() - 8, 8), kLevelAssetId);
    }
    auto level = startLevel(5.0f);
    EXPECT_TRUE(level->system->holdsQuickSave());
    EXPECT_EQ(level->transform(player).position.x, 5.0f);
    level->system->restoreQuickSave(level->scene.world());
    EXPECT_EQ(level->transform(player).position.x, 1.0f);
    EXPECT_TRUE(isAliveEntity(level->scene.world(), player));
}

TEST_F(QuickSaveFileTest, WithoutTheSettingNoFileIsWrittenOrRead)
{
    const Bytes file = savedFile();
    Settings::Development.persistentQuickSave = false;
    fs::remove(path());
    auto level = startLevel(1.0f);
    level->system->createQuickSave(level->scene.world());
    EXPECT_FALSE(fs::exists(path()));
    writeFile(file);
    EXPECT_FALSE(startLevel(1.0f)->system->holdsQuickSave());
}

TEST_F(QuickSaveFileTest, AnotherLevelsFileIsDiscardedWithTheWarning)
{
    const Bytes file = savedFile();
    struct Case {
        const char* name;
        u64 assetId;
        u64 capacity;
    };
    const Case cases[] = {
        { "same store size, another level", kLevelAssetId + 1, 32 },
        { "same level id, larger world", kLevelAssetId, 40 },
        { "longer than any save of this world", kLevelAssetId, 16 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file);
        quern::testing::LogCapture log(2);
        auto level = startLevel(1.0f, c.assetId, c.capacity);
        EXPECT_EQ(log.count(kWrongLevel), 1u);
        EXPECT_FALSE(level->system->holdsQuickSave());
    }
}

TEST_F(QuickSaveFileTest, DamagedFilesAreDiscardedWithAWarning)
{
    const Bytes file = savedFile();
    const u64 n = getLittleEndian(file, 0, 4);
    const u64 s = getLittleEndian(file, 4, 8);
    const u64 states = 12 + s;
    const u64 masks = states + n;
    struct Case {
        const char* name;
        Bytes bytes;
        const char* reason;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, const char* reason, auto change) {
        Bytes bytes = file;
        change(bytes);
        cases.push_back({ name, bytes, reason });
    };
    const char* kLength = "its length doesn't match";
    add("cut short by one byte", kLength, [](Bytes& b) { b.pop_back(); });
    add("one byte too many", kLength, [](Bytes& b) { b.push_back(0); });
    add("part of the header", "shorter than its fixed fields", [](Bytes& b) { b.resize(7); });
    add("a slot more in the header", kLength, [&](Bytes& b) { putLittleEndian(b, 0, n + 1, 4); });
    add("a store size that wraps", kLength, [](Bytes& b) { putLittleEndian(b, 4, ~u64 { 0 }, 8); });
    add("an unknown state", "slot 1 has the unknown state 9", [&](Bytes& b) { b[states + 1] = 9; });
    add("a type the world lacks", "slot 0 enables component type 127", [&](Bytes& b) { b[masks + 15] |= 0x80; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(c.bytes);
        quern::testing::LogCapture log(2);
        auto level = startLevel(1.0f);
        EXPECT_TRUE(log.contains("Damaged quick save")) << log.text();
        EXPECT_TRUE(log.contains(c.reason)) << log.text();
        EXPECT_FALSE(level->system->holdsQuickSave());
    }
}

TEST_F(QuickSaveFileTest, AMissingOrEmptyFileLeavesTheSystemEmptyWithoutAWord)
{
    for (const bool empty : { false, true }) {
        SCOPED_TRACE(empty);
        fs::remove(path());
        if (empty)
            writeFile({});
        quern::testing::LogCapture log(2);
        auto level = startLevel(1.0f);
        EXPECT_FALSE(level->system->holdsQuickSave());
        EXPECT_EQ(log.text(), "");
    }
}

TEST_F(QuickSaveFileTest, AFailedWriteIsLoggedAndTheSaveIsStillHeld)
{
    std::ofstream(folder / "blocker") << "a file where a folder should be";
    files.setDirectory((folder / "blocker" / "saves").c_str());
    auto level = startLevel(1.0f);
    quern::testing::LogCapture log(1);
    level->system->createQuickSave(level->scene.world());
    EXPECT_TRUE(log.contains("Can't write the quick save 'level.save'")) << log.text();
    EXPECT_TRUE(level->system->holdsQuickSave());
}

// A file whose size is known but whose bytes cannot be read.
class UnreadableStorage final : public quern::io::UserStorage {
public:
    quern::io::UserStorageResult fileSize(const char*, quern::io::UserStorageListener*) override
    {
        return quern::io::makeUserStorageResult(64, quern::io::UserStorageError::NoError);
    }
    quern::io::UserStorageResult read(const char*, void*, u64, quern::io::UserStorageListener*) override
    {
        return quern::io::makeUserStorageResult(0, quern::io::UserStorageError::ReadError);
    }
    quern::io::UserStorageResult write(const char*, const void*, u64, i32, quern::io::UserStorageListener*) override
    {
        return {};
    }
    quern::io::UserStorageResult remove(const char*, quern::io::UserStorageListener*) override { return {}; }
};

TEST_F(QuickSaveFileTest, AReadFailureIsReportedAndReadsNothing)
{
    auto level = startLevel(1.0f);
    UnreadableStorage storage;
    quern::testing::SoftAssertRecorder asserts;
    WorldSnapshot snapshot;
    EXPECT_FALSE(readQuickSaveFile(snapshot, storage, "level.save", nullptr, level->scene.world(), kLevelAssetId));
    EXPECT_EQ(asserts.messages, std::vector<std::string> { quern::io::userStorageMessage(
                                    quern::io::UserStorageError::ReadError) });
    EXPECT_FALSE(snapshot.holdsStore());
}

// The fuzz target's seeds are quick saves of its world: one of that world's
// level, one of another. A changed file format shows here first; the fresh
// seeds are then written beside the test program to be copied over.
TEST(QuickSaveFuzzSeeds, AreQuickSavesOfTheFuzzTargetsWorld)
{
    struct Seed {
        const char* name;
        u64 assetId;
        QuickSaveVerdict verdict;
    };
    const Seed seeds[] = {
        { "small-world", quern::fuzz::kQuickSaveLevel, QuickSaveVerdict::Fits },
        { "other-level", quern::fuzz::kQuickSaveLevel + 1, QuickSaveVerdict::OtherLevel },
    };
    const fs::path committed = fs::path(QUERN_TEST_SOURCE_DIR) / "../../../fuzz/seeds/QuickSaveFileFuzz";
    const fs::path fresh = testFolder("fuzzseeds");
    fs::create_directories(fresh);
    for (const Seed& seed : seeds) {
        SCOPED_TRACE(seed.name);
        World world;
        quern::fuzz::buildQuickSaveWorld(world);
        WorldSnapshot snapshot;
        world.takeSnapshot(snapshot, nullptr);
        MemoryByteSink sink;
        encodeQuickSave(snapshot, seed.assetId, sink);
        quern::entity::release(snapshot, nullptr);
        const std::string bytes(sink.bytes.c_str(), sink.bytes.length());
        const auto* data = reinterpret_cast<const u8*>(bytes.data());
        EXPECT_EQ(checkQuickSave(data, bytes.size(), world, quern::fuzz::kQuickSaveLevel).verdict, seed.verdict);
        if (quern::testing::readFile(committed / seed.name) != bytes) {
            std::ofstream(fresh / seed.name, std::ios::binary) << bytes;
            ADD_FAILURE() << "stale seed; the fresh one is " << (fresh / seed.name).string();
        }
    }
}

// The demo's playground, built by the content tool, saved and restored with
// its player moved in between.
TEST(QuickSavePlayground, ThePlayerComesBackToWhereTheSaveFoundIt)
{
    Settings::resetToDefaults();
    const fs::path root = testFolder("playground");
    fs::remove_all(root);
    fs::create_directories(root);
    std::ofstream(root / "manifest.txt") << "levels/playground level\n";
    quern::testing::BuiltContent content;
    std::string error;
    ASSERT_TRUE(content.build(root / "manifest.txt", QUERN_CONTENT_DIR, root / "out", error)) << error;
    const u64 id = quern::strings::murmurHash64A("levels/playground", std::strlen("levels/playground"), 0);

    AppEventQueueStorage events;
    AppContext context;
    context.services.appEventQueue = &events.queue;
    context.levelAssetId = id;
    World world;
    auto* system = new SaveGameSystem(context);
    world.addSystem(system);
    quern::assets::DepotSource source(*content.depot, content.depot->open(id), true);
    quern::entity::loadWorld(source, quern::serialize::selectPODToken(source), world, 16, nullptr, "playground");
    world.start();
    const EntityHandle player = system->player();
    ASSERT_TRUE(isPlayerEntity(world, player));
    EXPECT_STREQ(world.getEntityName(player), "player");

    world.fixedTick(2);
    ASSERT_EQ(testing::takeSaveRequests(events.queue), 1);
    system->createQuickSave(world);
    Transform& transform = transformAt(world, player.index());
    const quern::math::Vector3 saved = transform.position;
    const u32 checksum = world.worldChecksum();
    transform.position = { saved.x + 3.0f, saved.y - 2.0f, saved.z };
    const EntityHandle stray = world.createEntity();
    system->restoreQuickSave(world);
    EXPECT_EQ(transform.position.x, saved.x);
    EXPECT_EQ(transform.position.y, saved.y);
    EXPECT_EQ(world.worldChecksum(), checksum);
    EXPECT_FALSE(isAliveEntity(world, stray));
    Settings::resetToDefaults();
}

} // namespace
} // namespace harmonize
