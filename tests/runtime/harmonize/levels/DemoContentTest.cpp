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
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/input/InputOrigin.h"
#include "quern/io/FileSource.h"
#include "quern/io/StringSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
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
    "levels/final", "levels/moves", "levels/rules", "levels/hazards", "levels/hud", "levels/list" };
constexpr i32 kScriptEntries = static_cast<i32>(sizeof kScript / sizeof kScript[0]);
const char* const kPlayable[]
    = { "levels/start", "levels/playground", "levels/cliffs", "levels/caverns", "levels/final", "levels/moves",
          "levels/rules", "levels/hazards", "levels/hud" };

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

    // Every asset the level depends on, directly or through others, with its type.
    static std::map<u64, u64> dependenciesOf(const char* level)
    {
        quern::containers::Array dependencies(sizeof(u64), alignof(u64));
        s_database->collectDependencies(assetId(level), dependencies);
        std::map<u64, u64> types;
        for (u64 d = 0; d < dependencies.count(); ++d)
            types[dependencies.at<u64>(d)] = typeOf(dependencies.at<u64>(d));
        return types;
    }

    static quern::Ref materialAsset(u64 id)
    {
        const std::vector<u8> bytes = assetBytes(id);
        quern::Ref held(new quern::graphics::GenericMaterial);
        quern::StringSource source(bytes.data(), bytes.size());
        quern::graphics::readMaterial(
            source, quern::serialize::selectPODToken(source), *held.get<quern::graphics::GenericMaterial>());
        return held;
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

    // The slots of active entities holding component `type`, in index order.
    std::vector<u64> slotsWith(u32 type)
    {
        std::vector<u64> slots;
        for (u64 i = 0; i < world.getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
            if (world.getEnabledMask(i).test(type) && world.isActive(e))
                slots.push_back(i);
        }
        return slots;
    }
    template <class Record> Record& component(u64 slot)
    {
        return *static_cast<Record*>(world.getComponent(slot, Record::kType));
    }

    quern::entity::World world;
};

// Whether `id` is among the dependencies with the type of `typeWord`.
::testing::AssertionResult isDependency(const std::map<u64, u64>& dependencies, u64 id, const char* typeWord)
{
    char hex[19];
    std::snprintf(hex, sizeof hex, "0x%016llx", static_cast<unsigned long long>(id));
    const auto found = dependencies.find(id);
    if (found == dependencies.end())
        return ::testing::AssertionFailure() << hex << " is not a dependency";
    if (found->second != quern::packName(typeWord))
        return ::testing::AssertionFailure() << hex << " is not of the type " << typeWord;
    return ::testing::AssertionSuccess();
}

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

    // The global record: the overlay's font, the counter's icon and the
    // prompt atlases by controller type.
    ASSERT_NE(list.globalRecord(), nullptr);
    const struct {
        u64 offset;
        const char* asset;
        const char* type;
    } globals[] = {
        { 20, "textures/counter.glyphs", "texture" },
        { LevelList::kOverlayFontOffset, "fonts/hud.font", "font" },
        { 52, "textures/prompts_ps4.atlas", "textureatlas" },
        { 60, "textures/prompts_default.atlas", "textureatlas" },
        { 68, "textures/prompts_xboxone.atlas", "textureatlas" },
    };
    for (u64 offset : LevelList::kGlobalAssetOffsets) {
        SCOPED_TRACE(offset);
        const auto* named
            = std::find_if(std::begin(globals), std::end(globals), [&](const auto& g) { return g.offset == offset; });
        const u64 id = list.globalAssetId(offset);
        if (named == std::end(globals)) {
            EXPECT_EQ(id, 0u);
            continue;
        }
        EXPECT_EQ(id, assetId(named->asset));
        EXPECT_EQ(typeOf(id), quern::packName(named->type));
    }
}

// Each prompt atlas names every input origin of its controller family with a
// cell of its glyph sheet, the texture it links.
TEST_F(DemoContent, PromptAtlasesNameEveryOriginOfTheirController)
{
    using quern::input::InputOrigin;
    const struct {
        const char* atlas;
        const char* sheet;
        InputOrigin first, last;
    } atlases[] = {
        { "textures/prompts_ps4.atlas", "textures/prompts_ps4.glyphs", InputOrigin::PS4ButtonCross,
            InputOrigin::PS4GyroRoll },
        { "textures/prompts_xboxone.atlas", "textures/prompts_xboxone.glyphs", InputOrigin::XboxOneButtonA,
            InputOrigin::XboxOneDPadRight },
        { "textures/prompts_default.atlas", "textures/prompts_default.glyphs", InputOrigin::Xbox360ButtonA,
            InputOrigin::Xbox360DPadRight },
    };
    for (const auto& a : atlases) {
        SCOPED_TRACE(a.atlas);
        const std::vector<u8> file = assetBytes(assetId(a.atlas));
        ASSERT_GT(file.size(), 16u);
        u64 textureId = 0;
        std::memcpy(&textureId, file.data() + 8, sizeof textureId);
        EXPECT_EQ(textureId, assetId(a.sheet));
        const std::vector<u8> texture = assetBytes(textureId);
        ASSERT_GE(texture.size(), 128u);
        u32 height = 0, width = 0;
        std::memcpy(&height, texture.data() + 12, sizeof height);
        std::memcpy(&width, texture.data() + 16, sizeof width);

        quern::memory::Allocator* allocator = quern::memory::getDefaultAllocator();
        void* block = allocator->allocate(file.size() - 16, 8);
        std::memcpy(block, file.data() + 16, file.size() - 16);
        quern::graphics::TextureAtlas atlas;
        atlas.setData(block, file.size() - 16, allocator);
        const i32 first = static_cast<i32>(a.first), last = static_cast<i32>(a.last);
        EXPECT_EQ(atlas.regionCount(), static_cast<u64>(last - first + 1));
        for (i32 origin = first; origin <= last; ++origin) {
            const char* name = quern::input::toString(static_cast<InputOrigin>(origin));
            const quern::graphics::TextureRegion* region = atlas.findRegion(name);
            ASSERT_NE(region, nullptr) << name;
            EXPECT_GT(region->width, 0u) << name;
            EXPECT_LE(u64 { region->x } + region->width, width) << name;
            EXPECT_LE(u64 { region->y } + region->height, height) << name;
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
        { "levels/moves", "Moves", 1, 0 },
        { "levels/rules", "Rules", 1, 0 },
        { "levels/hazards", "Hazards", 1, 0 },
        { "levels/hud", "Shards", 1, 0 },
    };
    ASSERT_EQ(list.levelRecordCount(), 7);
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
    for (const char* name : kPlayable) {
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

// The render system takes a renderer's mesh and material from what the level
// preloaded, and stops the game at a renderer with no kind of geometry; a
// particle emitter and a text label make their own quads, but their
// materials are preloaded too.
TEST_F(DemoContent, EveryRendererShowsAMeshOrParticlesAndAMaterialTheLevelPreloads)
{
    for (i32 i = 0; i + 1 < kScriptEntries; ++i) {
        SCOPED_TRACE(kScript[i]);
        const std::map<u64, u64> dependencies = dependenciesOf(kScript[i]);
        LoadedLevel level(*s_depot, kScript[i]);
        const std::vector<u64> renderers = level.slotsWith(Renderer::kType);
        EXPECT_FALSE(renderers.empty());
        for (u64 slot : renderers) {
            const u64 material = level.component<Renderer>(slot).material;
            EXPECT_TRUE(isDependency(dependencies, material, "material"));
            if (level.world.getComponentMask(slot).test(ParticleSpawner::kType)) {
                EXPECT_TRUE(level.world.getComponentMask(slot).test(ParticleAppearance::kType)) << "entity " << slot;
                continue;
            }
            if (level.world.getComponentMask(slot).test(TextLabel::kType))
                continue;
            ASSERT_TRUE(level.world.getComponentMask(slot).test(MeshReference::kType)) << "entity " << slot;
            const u64 mesh = level.component<MeshReference>(slot).mesh;
            const u64 lightmap = level.component<Renderer>(slot).lightmap;
            EXPECT_TRUE(isDependency(dependencies, mesh, "mesh"));
            if (lightmap != 0) {
                EXPECT_TRUE(isDependency(dependencies, lightmap, "texture"));
            }
        }
    }
}

TEST_F(DemoContent, PlayableLevelsHaveAShadowingSunPointLightsFogAndClearingCameras)
{
    for (const char* name : kPlayable) {
        SCOPED_TRACE(name);
        LoadedLevel level(*s_depot, name);
        u32 suns = 0;
        u32 points = 0;
        // A lightning's light is dark but for its flashes.
        std::set<u64> flashLights;
        for (u64 slot : level.slotsWith(Lightning::kType))
            flashLights.insert(level.component<Lightning>(slot).flashLight.index());
        for (u64 slot : level.slotsWith(Light::kType)) {
            const Light& light = level.component<Light>(slot);
            if (flashLights.count(slot))
                continue;
            EXPECT_GT(light.intensity, 0.0f) << "light " << slot;
            if (light.kind == Light::kDirectional && light.castsShadows != 0)
                ++suns;
            if (light.kind == Light::kPoint && light.range > 0.0f)
                ++points;
        }
        EXPECT_EQ(suns, 1u);
        // More than the six a material takes, so each visual gets the nearest.
        EXPECT_GE(points, 7u);

        const std::vector<u64> fogs = level.slotsWith(Fog::kType);
        ASSERT_EQ(fogs.size(), 1u);
        const Fog& fog = level.component<Fog>(fogs[0]);
        EXPECT_NE(fog.enabled, 0);
        EXPECT_GT(fog.end, fog.start);
        EXPECT_GT(fog.ambient[0] + fog.ambient[1] + fog.ambient[2], 0.0f);

        const std::vector<u64> lenses = level.slotsWith(CameraLens::kType);
        EXPECT_FALSE(lenses.empty());
        for (u64 slot : lenses) {
            const CameraLens& lens = level.component<CameraLens>(slot);
            // Modes 3 and 4 keep the colour of the frame before.
            EXPECT_NE(lens.clearMode, 3);
            EXPECT_NE(lens.clearMode, 4);
            EXPECT_EQ(lens.clearColour[3], 1.0f);
            EXPECT_EQ(std::vector<float>(lens.clearColour, lens.clearColour + 3),
                std::vector<float>(fog.colour, fog.colour + 3))
                << "the clear colour is the colour far things fade to";
        }
    }
}

// The pipeline reads the post effects from the last entity with an enabled
// game-camera rig; every material and texture they name must be preloaded.
TEST_F(DemoContent, PlayableLevelsCarryTheFivePostEffectSettingsOnTheGameCamera)
{
    for (const char* name : kPlayable) {
        SCOPED_TRACE(name);
        const std::map<u64, u64> dependencies = dependenciesOf(name);
        LoadedLevel level(*s_depot, name);
        const std::vector<u64> rigs = level.slotsWith(GameCameraRig::kType);
        ASSERT_FALSE(rigs.empty());
        const u64 camera = rigs.back();
        for (u32 type : { FxaaSettings::kType, BloomSettings::kType, VignetteMask::kType, OverlaySettings::kType,
                 VignetteSettings::kType }) {
            EXPECT_TRUE(level.world.getEnabledMask(camera).test(type)) << "component " << type;
        }
        const BloomSettings& bloom = level.component<BloomSettings>(camera);
        const VignetteSettings& vignette = level.component<VignetteSettings>(camera);
        const OverlaySettings& overlay = level.component<OverlaySettings>(camera);
        for (u64 material : { level.component<FxaaSettings>(camera).material, bloom.brightPassMaterial,
                 bloom.blurMaterial, bloom.combineMaterial, vignette.vignetteMaterial, vignette.blurMaterial,
                 vignette.aberrationMaterial, overlay.material }) {
            EXPECT_TRUE(isDependency(dependencies, material, "material"));
        }
        EXPECT_TRUE(isDependency(dependencies, level.component<VignetteMask>(camera).texture, "texture"));
        EXPECT_TRUE(isDependency(dependencies, overlay.texture, "texture"));
        // The bright pass divides by 1 - threshold.
        EXPECT_GT(bloom.threshold, 0.0f);
        EXPECT_LT(bloom.threshold, 1.0f);
        EXPECT_GE(bloom.blurIterations, 1);
        EXPECT_GT(bloom.intensity, 0.0f);
        EXPECT_GT(vignette.intensity, 0.0f);
        EXPECT_GT(overlay.intensity, 0.0f);
    }
}

// The effects find their properties by name and write vec4s, floats and
// textures into them (a texture on a unit of its own); the overlay effect
// adds "_Intensity" itself, so a declared one would be a second.
TEST_F(DemoContent, EffectMaterialsDeclareEveryPropertyTheirEffectsWrite)
{
    using quern::graphics::MaterialPropertyType;
    constexpr MaterialPropertyType T = MaterialPropertyType::Texture;
    constexpr MaterialPropertyType V = MaterialPropertyType::Vector;
    constexpr MaterialPropertyType F = MaterialPropertyType::Float;
    const struct {
        const char* material;
        std::vector<std::pair<const char*, MaterialPropertyType>> properties;
    } cases[] = {
        { "materials/fxaa.mat", { { "_MainTex", T }, { "frameBuffer", T }, { "inverseResolution", V } } },
        { "materials/bloom_bright.mat", { { "_MainTex", T }, { "threshold", V }, { "useSrcAlphaMask", F } } },
        { "materials/blur.mat", { { "_MainTex", T }, { "offsets", V } } },
        { "materials/bloom_combine.mat", { { "_MainTex", T }, { "bloomTex", T }, { "intensity", F } } },
        { "materials/vignette.mat",
            { { "_MainTex", T }, { "vignetteTex", T }, { "blurredTex", T }, { "intensity", F }, { "blur", F } } },
        { "materials/aberration.mat",
            { { "_MainTex", T }, { "chromaticAberration", F }, { "_MainTex_TexelSize", V } } },
        { "materials/overlay.mat", { { "_MainTex", T }, { "_Overlay", T } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.material);
        quern::Ref held = materialAsset(assetId(c.material));
        const auto& material = *held.get<quern::graphics::GenericMaterial>();
        std::set<i32> units;
        for (const auto& [name, type] : c.properties) {
            const i32 index = material.findProperty(name);
            ASSERT_NE(index, 0) << name;
            EXPECT_EQ(material.property(index).type, static_cast<u32>(type)) << name;
            if (type == T) {
                EXPECT_TRUE(units.insert(material.property(index).unit).second) << name << " shares a unit";
            }
        }
        EXPECT_EQ(material.findProperty("_Intensity"), 0);
        // Full-screen passes draw whatever depth there is.
        EXPECT_EQ(material.depthComparison(), 0u);
    }
}

// The render and lighting systems add the lightmap (on unit 4), fog, light,
// shadow and skinning properties to an entity's copy of its material; the
// material must not declare them, or the program would get both.
TEST_F(DemoContent, LitMaterialsLeaveTheirSystemsPropertiesToTheGame)
{
    const char* const added[] = { "lightmap", "fog", "fogColor", "ambientColor", "lightDirection0", "lightDirection1",
        "lightColor0", "lightColor1", "pointLight0", "pointLight1", "pointLight2", "pointLight3", "pointLight4",
        "pointLight5", "pointLightColor0", "pointLightColor1", "pointLightColor2", "pointLightColor3",
        "pointLightColor4", "pointLightColor5", "shadowMap", "shadowMatrix", "skinningPalette", "numBones" };
    std::set<u64> materials;
    for (i32 i = 0; i + 1 < kScriptEntries; ++i) {
        LoadedLevel level(*s_depot, kScript[i]);
        for (u64 material : level.rendererMaterials())
            materials.insert(material);
    }
    EXPECT_GE(materials.size(), 5u);
    for (u64 id : materials) {
        SCOPED_TRACE(s_database->getAssetName(id));
        quern::Ref held = materialAsset(id);
        const auto& material = *held.get<quern::graphics::GenericMaterial>();
        const i32 mainTexture = material.findProperty("_MainTex");
        ASSERT_NE(mainTexture, 0);
        EXPECT_EQ(material.property(mainTexture).type, static_cast<u32>(quern::graphics::MaterialPropertyType::Texture));
        EXPECT_LT(material.property(mainTexture).unit, 4);
        for (const char* name : added) {
            EXPECT_EQ(material.findProperty(name), 0) << name;
        }
        EXPECT_NE(material.vertexProgramRef().asset.assetId, 0u);
        EXPECT_NE(material.fragmentProgramRef().asset.assetId, 0u);
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
