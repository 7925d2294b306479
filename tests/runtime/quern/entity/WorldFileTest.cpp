#include "WorldFileTestSupport.h"

#include "ContentBuilder.h"

#include "quern/assets/DepotSource.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quern;
using namespace quern::entity;
using namespace quern::entity::testing;

namespace {

namespace fs = std::filesystem;

const std::string kTextSource = std::string(QUERN_TEST_SOURCE_DIR) + "/data/testlevel.world";

u64 assetId(const char* name) { return strings::murmurHash64A(name, std::strlen(name), 0); }

// Loads a whole file the way the game does: the form from its first byte.
void loadBytes(const std::string& file, World& world, u64 extra = 0)
{
    StringSource source(file.data(), file.size());
    loadWorld(source, serialize::selectPODToken(source), world, extra, nullptr, "test");
}

template <class T> T read(World& world, u64 slot, u32 type, u64 offset)
{
    T value;
    std::memcpy(&value, static_cast<u8*>(world.getComponent(slot, type)) + offset, sizeof value);
    return value;
}

ComponentMask maskOf(std::initializer_list<u32> types)
{
    ComponentMask mask;
    for (u32 t : types)
        mask.set(t);
    return mask;
}

// Builds the repository's text level with the content tool into a
// file-system depot, once as "world" (binary) and once as "worldtext".
class BuiltLevel : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::path(QUERN_TEST_BINARY_DIR) / "builtlevel";
        fs::remove_all(root);
        fs::create_directories(root / "source/levels");
        fs::copy_file(kTextSource, root / "source/levels/binary.world");
        fs::copy_file(kTextSource, root / "source/levels/text.world");
        std::ofstream(root / "manifest.txt") << "levels/binary.world world\nlevels/text.world worldtext\n";
        assetbuild::BuildOptions options;
        options.manifestPath = (root / "manifest.txt").string();
        options.sourceDirectory = (root / "source").string();
        options.outDirectory = (root / "out").string();
        options.depotKind = "files";
        std::string error;
        ASSERT_TRUE(assetbuild::buildContent(options, error)) << error;
    }

    // The depot entry's bytes loaded into `world`.
    void loadFromDepot(const char* name, World& world)
    {
        assets::FileSystemDepot depot((root / "out").string().c_str());
        assets::DepotSource source(depot, depot.open(assetId(name)), true);
        loadWorld(source, serialize::selectPODToken(source), world, 0, nullptr, name);
    }

    fs::path root;
};

} // namespace

TEST_F(BuiltLevel, BinaryAndTextTwinsFillTheSameStoreBytes)
{
    // Both stores are made and zeroed first, so every byte of them is compared,
    // padding and unused slots included.
    const u16 sizes[] = { 16, 8, 12, 1, 12 };
    World binary, text;
    for (World* world : { &binary, &text }) {
        world->allocateComponentStore(sizes, 5, 8, nullptr);
        std::memset(world->store, 0, world->storeSize);
    }
    loadFromDepot("levels/binary.world", binary);
    loadFromDepot("levels/text.world", text);

    const std::string binaryBytes = readFile((root / "out" / "").string() + [] {
        char path[18];
        assets::FileSystemDepot::relativePath(assetId("levels/binary.world"), path);
        return std::string(path);
    }());
    ASSERT_FALSE(binaryBytes.empty());
    EXPECT_FALSE(serialize::isTextPODForm(static_cast<u8>(binaryBytes[0])));

    ASSERT_EQ(binary.storeSize, text.storeSize);
    EXPECT_EQ(std::memcmp(binary.store, text.store, binary.storeSize), 0);
    ASSERT_EQ(binary.getSlotCount(), text.getSlotCount());
    for (u64 slot = 0; slot < binary.getSlotCount(); ++slot) {
        EXPECT_EQ(binary.getComponentMask(slot), text.getComponentMask(slot));
        EXPECT_EQ(binary.getEnabledMask(slot), text.getEnabledMask(slot));
        const EntityHandle handle = EntityHandle::make(static_cast<u16>(slot), 1);
        EXPECT_STREQ(binary.getEntityName(handle), text.getEntityName(handle));
    }
    EXPECT_EQ(
        0, std::memcmp(binary.localizationAssetIds, text.localizationAssetIds, sizeof binary.localizationAssetIds));
    ASSERT_EQ(binary.texts->count(), text.texts->count());
    for (u64 i = 0; i < binary.texts->count(); ++i) {
        EXPECT_EQ(binary.texts->key(i), text.texts->key(i));
        EXPECT_STREQ(binary.texts->text(i), text.texts->text(i));
    }
}

TEST(WorldFile, TextLevelLoadsItsEntitiesComponentsAndTexts)
{
    World world;
    loadBytes(readFile(kTextSource), world, 3);

    ASSERT_TRUE(world.hasComponentStore());
    EXPECT_EQ(world.componentTypeCount, 5u);
    const u16 expectedSizes[] = { 16, 8, 12, 1, 12 };
    for (u32 t = 0; t < 5; ++t)
        EXPECT_EQ(world.componentSizes[t], expectedSizes[t]) << "type " << t;
    // Five chunks, one of them an editor note the loader passes over.
    EXPECT_EQ(world.getSlotCount(), 4u);
    EXPECT_EQ(world.liveEntityCount, 4u);
    EXPECT_EQ(world.getCapacity(), 5u + 3u);
    for (u64 slot = 0; slot < 4; ++slot)
        EXPECT_EQ(world.getState(slot), EntityState::Created);

    const char* names[] = { "Player", "Door", "Empty", "Counter" };
    for (u16 slot = 0; slot < 4; ++slot)
        EXPECT_STREQ(world.getEntityName(EntityHandle::make(slot, 1)), names[slot]);

    // Player: position floats, the byte after them, then padding; a byte and a
    // u32 at offset 4.
    EXPECT_EQ(world.getComponentMask(0), maskOf({ 0, 1 }));
    EXPECT_EQ(world.getEnabledMask(0), maskOf({ 0, 1 }));
    EXPECT_EQ(read<f32>(world, 0, 0, 0), 1.5f);
    EXPECT_EQ(read<f32>(world, 0, 0, 4), 2.0f);
    EXPECT_EQ(read<f32>(world, 0, 0, 8), -3.0f);
    EXPECT_EQ(read<u32>(world, 0, 0, 12), 7u); // the byte 7 and three zeroed padding bytes
    EXPECT_EQ(read<u32>(world, 0, 1, 0), 2u);
    EXPECT_EQ(read<u32>(world, 0, 1, 4), 100000u);

    // Door: a component without attributes and a 64-bit id aligned to 4.
    EXPECT_EQ(world.getComponentMask(1), maskOf({ 2, 3 }));
    EXPECT_TRUE(world.getEnabledMask(1).isEmpty());
    EXPECT_EQ(read<u8>(world, 1, 3, 0), 0);
    EXPECT_EQ(read<u64>(world, 1, 2, 0), 0x123456789abcdef0ull);
    EXPECT_EQ(read<u32>(world, 1, 2, 8), 9u);

    // Empty: no components, an enabled mask of bit 64 only.
    EXPECT_TRUE(world.getComponentMask(2).isEmpty());
    EXPECT_EQ(world.getEnabledMask(2), maskOf({ 64 }));

    EXPECT_EQ(read<i32>(world, 3, 4, 0), -5);
    EXPECT_EQ(read<u64>(world, 3, 4, 4), ~u64 { 0 });

    const i64 hello = world.texts->find(strings::murmurHash64A("Hello", 5, strings::kInternerSeed));
    ASSERT_GE(hello, 0);
    EXPECT_STREQ(world.texts->text(static_cast<u64>(hello)), "Hello");
    EXPECT_EQ(world.localizationAssetIds[0], assetId("levels/level.de.mo"));
    EXPECT_EQ(world.localizationAssetIds[3], assetId("levels/level.fr.mo"));
    EXPECT_EQ(world.localizationAssetIds[1], 0u);
}

TEST(WorldFile, LevelReadIntoAnExistingStoreAddsItsEntitiesThere)
{
    const std::string file = readFile(kTextSource);
    World world;
    loadBytes(file, world, 4);
    u8* const store = world.store;
    const u64 size = world.storeSize;
    world.destroyEntities(std::vector<EntityHandle> { EntityHandle::make(1, 1) }.data(), 1);

    loadBytes(file, world);
    EXPECT_EQ(world.store, store);
    EXPECT_EQ(world.storeSize, size);
    EXPECT_EQ(world.liveEntityCount, 7u);
    // The freed slot is reused first, then new slots are appended.
    EXPECT_STREQ(world.getEntityName(EntityHandle::make(1, 2)), "Player");
    EXPECT_STREQ(world.getEntityName(EntityHandle::make(4, 1)), "Door");
    EXPECT_EQ(read<u32>(world, 1, 1, 4), 100000u);
    // Names are interned once: the second load reuses the texts of the first.
    EXPECT_EQ(world.entityNames->count(), 4u);
    EXPECT_EQ(world.getEntityName(EntityHandle::make(1, 2)), world.getEntityName(EntityHandle::make(0, 1)));
}

TEST(WorldFile, ComponentBytesAreClearedBeforeTheValueIsRead)
{
    // The text form does not carry padding; whatever the slot held before must not survive.
    const u16 sizes[] = { 16, 8, 12, 1, 12 };
    World world;
    world.allocateComponentStore(sizes, 5, 4, nullptr);
    std::memset(world.store, 0xAB, world.storeSize);
    loadBytes(readFile(kTextSource), world);
    EXPECT_EQ(read<u8>(world, 0, 0, 13), 0);
    EXPECT_EQ(read<u8>(world, 0, 1, 1), 0);
    EXPECT_EQ(read<u8>(world, 1, 3, 0), 0);
}

TEST(WorldFile, DocumentsRoundTripThroughBothFormsToTheSameBytes)
{
    assetbuild::WorldDocument document;
    addType(document, "Mixed",
        { { AttributeType::UInt8, 1 }, { AttributeType::Float32, 2 }, { AttributeType::UInt64, 1 } });
    addType(document, "Tag", {});
    for (u32 e = 0; e < 3; ++e) {
        assetbuild::WorldEntity entity;
        entity.name = "e" + std::to_string(e);
        entity.enabledMask[0] = e;
        assetbuild::WorldComponent mixed;
        mixed.type = 0;
        mixed.bytes.assign(20, 0);
        put<u8>(mixed.bytes, 0, static_cast<u8>(200 + e));
        put<f32>(mixed.bytes, 4, 0.25f * e);
        put<f32>(mixed.bytes, 8, -1.0f);
        put<u64>(mixed.bytes, 12, 0xfedcba9876543210ull + e);
        entity.components.push_back(mixed);
        entity.components.push_back(assetbuild::WorldComponent { 1, {} });
        document.entities.push_back(entity);
    }
    World binary, text;
    loadBytes(writeDocument(document, false), binary);
    loadBytes(writeDocument(document, true), text);
    ASSERT_EQ(binary.componentSizes[0], 20);
    for (u64 slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(std::memcmp(binary.getComponent(slot, 0), document.entities[slot].components[0].bytes.data(), 20), 0);
        EXPECT_EQ(std::memcmp(text.getComponent(slot, 0), document.entities[slot].components[0].bytes.data(), 20), 0);
        EXPECT_EQ(text.getEnabledMask(slot).words[0], slot);
    }
}

TEST(WorldFile, ToolRefusesDocumentsTheEngineWouldRefuse)
{
    assetbuild::WorldDocument document;
    addType(document, "Pair", { { AttributeType::UInt32, 2 } });
    assetbuild::WorldEntity entity;
    entity.name = "a";
    entity.components.push_back(assetbuild::WorldComponent { 3, std::vector<u8>(8) });
    document.entities.push_back(entity);
    std::ostringstream out;
    serialize::BinaryPODToken token;
    std::string error;
    EXPECT_FALSE(assetbuild::writeWorldFile(out, token, document, error));
    EXPECT_NE(error.find("component type 3 is not in the model"), std::string::npos) << error;

    document.entities[0].components[0] = assetbuild::WorldComponent { 0, std::vector<u8>(7) };
    EXPECT_FALSE(assetbuild::writeWorldFile(out, token, document, error));
    EXPECT_NE(error.find("holds 7 bytes, the model gives 8"), std::string::npos) << error;
}

TEST(WorldFileDeathTest, DamagedFilesAreRefusedNamingTheFile)
{
    const std::vector<std::vector<std::pair<u8, u32>>> twoTypes = { { { 4, 1 } }, { { 2, 4 } } };
    const std::vector<u8> u32Value(4, 0);
    struct Case {
        const char* what;
        std::string file;
        const char* message;
    };
    std::vector<Case> cases;
    {
        RawWorldWriter raw;
        raw.model(twoTypes, 2);
        raw.u32Value(2);
        raw.entity("ok", { { 0, u32Value } });
        raw.entity("Stray", { { 1, std::vector<u8>(4) }, { 7, u32Value } });
        cases.push_back({ "type index outside the model", raw.finish(),
            "World file level7: entity 1 \\(Stray\\) has a component of type 7; the file has 2 types" });
    }
    {
        RawWorldWriter raw;
        raw.model(twoTypes, 2);
        raw.u32Value(70000);
        cases.push_back({ "more entities than a world addresses", raw.finish(),
            "World file level7 has 70000 entities; a world holds at most 65535" });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DEATH(
            {
                World world;
                StringSource source(c.file.data(), c.file.size());
                serialize::BinaryPODToken token;
                loadWorld(source, token, world, 0, nullptr, "level7");
            },
            c.message);
    }
}

TEST(WorldFileDeathTest, ComponentsMustFitAnExistingStore)
{
    RawWorldWriter raw;
    raw.model({ { { 4, 1 } }, { { 4, 3 } } }, 2);
    raw.u32Value(1);
    raw.entity("Big", { { 1, std::vector<u8>(12) } });
    const std::string tooBig = raw.finish();
    // The world was made for one type of 4 bytes, then a 2-type file arrives.
    const u16 oneType[] = { 4 };
    EXPECT_DEATH(
        {
            World world;
            world.allocateComponentStore(oneType, 1, 4, nullptr);
            StringSource source(tooBig.data(), tooBig.size());
            serialize::BinaryPODToken token;
            loadWorld(source, token, world, 0, nullptr, "level8");
        },
        "World file level8: entity 0 \\(Big\\) has a component of type 1; the file has 2 types, the world 1");
    const u16 smallSizes[] = { 4, 8 };
    EXPECT_DEATH(
        {
            World world;
            world.allocateComponentStore(smallSizes, 2, 4, nullptr);
            StringSource source(tooBig.data(), tooBig.size());
            serialize::BinaryPODToken token;
            loadWorld(source, token, world, 0, nullptr, "level8");
        },
        "World file level8: component Type needs 12 bytes but the world's type 1 holds 8");
    EXPECT_DEATH(
        {
            World world;
            world.allocateComponentStore(smallSizes, 2, 0, nullptr);
            StringSource source(tooBig.data(), tooBig.size());
            serialize::BinaryPODToken token;
            loadWorld(source, token, world, 0, nullptr, "level8");
        },
        "Component store exhausted, can't create Entity");
}
