// The counter on the screen: flights to the slots and out to a save point,
// the sprites that pop in, the levels world start refuses, and the tween
// records that must never move.

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "LevelListWriter.h"
#include "TestOverlay.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/math/Ray.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::math::Vector3;
using testing::Scenario;
using testing::TestOverlay;
using State = CollectibleIconState;

constexpr u64 kCounterId = 0xC0C0;
constexpr f32 kIconWidth = 64.0f;
constexpr f32 kIconHeight = 48.0f;
constexpr f32 kFrame = 0.125f; // four frames make a flight

// Installs the null display for the textures made while it lives.
struct NullDisplayScope {
    NullDisplayScope() { quern::graphics::Display::set(new quern::graphics::NullDisplay); }
    ~NullDisplayScope() { quern::graphics::Display::set(nullptr); }
};

// Unnamed: the level list's global record has no counter texture.
enum class CounterAsset { Texture, OtherResource, Missing, Unnamed };

// A level world with the counter drawing into a test overlay: coins that
// spawn a pick-up effect and a counter icon from dormant prefabs, a game
// camera at z = -20 looking along +Z, and a 64 x 48 counter texture.
struct CounterWorld {
    explicit CounterWorld(u64 coinCount = 3, CounterAsset asset = CounterAsset::Texture)
        : scene(128)
    {
        Settings::resetToDefaults();
        Settings::Development.moneyStart = 0;
        std::vector<u8> image;
        std::string error;
        quern::assetbuild::buildLevelList(asset == CounterAsset::Unnamed ? "global 36 counter\n" : "global 20 counter\n",
            { { "counter", kCounterId } }, image, error);
        overlay.levels.parse(image.data(), image.size(), &error);
        preloadCounter(asset);
        context.services.levelList = &overlay.levels;
        context.overlay = &overlay.batch;
        context.transformHierarchy = new TransformHierarchySystem;
        context.gameCamera = new GameCameraSystem(context);
        context.collectible = collectibles;
        scene.addSystem(context.transformHierarchy);
        scene.addSystem(context.gameCamera);
        scene.addSystem(collectibles);

        effect = scene.add("effect", { "Transform" }, {}, true);
        counterIcon = scene.add("counterIcon", { "Transform" }, {}, true);
        camera = scene.add("game", { "Transform", "CameraLens", "GameCameraRig" });
        scene.get<Transform>(camera).position = { 0.0f, 0.0f, -20.0f };
        CameraLens& lens = scene.get<CameraLens>(camera);
        lens.nearPlane = 1.0f;
        lens.farPlane = 1000.0f;
        lens.fieldOfView = 60.0f;
        for (u64 i = 0; i < coinCount; ++i) {
            const EntityHandle coin = scene.add("coin", { "Transform", "Collectible" });
            scene.get<Transform>(coin).position = { static_cast<f32>(i), 1.0f, 0.0f };
            scene.get<Collectible>(coin) = Collectible { effect, counterIcon, 0, {} };
            coins.push_back(coin);
        }
    }
    ~CounterWorld() { Settings::resetToDefaults(); }

    void preloadCounter(CounterAsset asset)
    {
        if (asset == CounterAsset::Missing)
            return;
        // Another kind of resource filed under the texture's key: what a level
        // list naming the wrong asset would leave in the cache.
        const u64 type = asset == CounterAsset::Texture ? quern::assets::ResourceType::Texture
                                                        : quern::assets::ResourceType::Mesh;
        quern::assets::ResourceCache& cache = overlay.worker.cache();
        const u32 handle = cache.allocateAndInsert(
            quern::assets::resourceKey(kCounterId, quern::assets::ResourceType::Texture), type,
            sizeof(quern::graphics::Texture), alignof(quern::graphics::Texture));
        u64 found = 0;
        auto* texture = new (cache.entry(handle, found)) quern::graphics::Texture();
        quern::RefCounted::retain(texture); // the cache's reference
        const std::vector<u8> pixels(static_cast<u64>(kIconWidth * kIconHeight) * 4, 0xFF);
        texture->pixelBuffer()->setImage2D(pixels.data(), static_cast<u32>(kIconWidth), static_cast<u32>(kIconHeight));
        cache.release(handle);
    }

    quern::entity::World& world() { return scene.world(); }
    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }
    // One fixed tick and one frame of `seconds`, drawn into a fresh list.
    void frame(f32 seconds = kFrame)
    {
        scene.tick();
        overlay.batch.endFrame();
        world().clock.deltaSeconds = seconds;
        world().variableUpdate(0);
    }
    void frames(int n)
    {
        for (int i = 0; i < n; ++i)
            frame();
    }
    void collect(u64 n) { collectibles->onCollected(coins[n], world()); }
    // Collected and flown into the counter.
    void collectAndLand(u64 n)
    {
        collect(n);
        frames(4);
    }
    void pay(SavePointTrigger& at) { collectibles->payAtSavePoint(at, world()); }
    std::vector<State> states() const
    {
        std::vector<State> out;
        for (u64 i = 0; i < collectibles->iconCount(); ++i)
            out.push_back(collectibles->icon(i).state);
        return out;
    }
    Transform& transform(EntityHandle e) { return scene.get<Transform>(e); }
    // The point behind a slot, on the plane 150 in front of the camera.
    Vector3 behind(const f32 slot[2])
    {
        quern::math::Matrix4 view;
        quern::math::Matrix4 projection;
        GameCameraSystem::computeViewProjection(view, projection, context.gameCamera->gameCameraRig(), world());
        const quern::math::Ray ray = quern::math::Ray::fromScreenPoint(slot[0], slot[1], view, projection, 1920, 1080);
        const f32 t = (130.0f - ray.origin.z) / ray.direction.z;
        return ray.origin + ray.direction * t;
    }

    NullDisplayScope display;
    TestOverlay overlay;
    AppContext context;
    Scenario scene;
    CollectibleSystem* collectibles = new CollectibleSystem(context);
    EntityHandle effect;
    EntityHandle counterIcon;
    EntityHandle camera;
    std::vector<EntityHandle> coins;
};

f32 slotX(u64 place) { return kIconWidth / 2 + 20 + kIconWidth * static_cast<f32>(place); }

TEST(CollectibleCounter, TheSlotSizeIsTheCounterTexturesSize)
{
    CounterWorld w;
    w.start();
    EXPECT_EQ(w.collectibles->iconWidth(), kIconWidth);
    EXPECT_EQ(w.collectibles->iconHeight(), kIconHeight);
    EXPECT_NE(w.collectibles->counterTexture(), 0u);
    EXPECT_EQ(w.collectibles->collectiblesInWorld(), 3u);
}

TEST(CollectibleCounter, ACollectibleFliesBehindItsSlotAndItsSpritePopsInOnArrival)
{
    CounterWorld w;
    w.start();
    w.collect(0);
    w.collect(0); // picked already
    ASSERT_EQ(w.collectibles->iconCount(), 1u);
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    EXPECT_EQ(w.collectibles->collectedListCount(), 1u);

    // In flight: nothing drawn, and the collectible heads for the point
    // behind its slot.
    w.frames(3);
    EXPECT_TRUE(w.overlay.items().empty());
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToCounter }));
    const CollectibleIcon& icon = w.collectibles->icon(0);
    EXPECT_EQ(icon.slot[0], slotX(0));
    EXPECT_EQ(icon.slot[1], kIconHeight / 2 + 20);
    const Vector3 behind = w.behind(icon.slot);
    EXPECT_NEAR(icon.target[0], behind.x, 1e-3f);
    EXPECT_NEAR(icon.target[1], behind.y, 1e-3f);

    // Arrival: the collectible is on the target and leaves the level, a
    // counter icon is cloned there and its sprite starts from nothing.
    w.frame();
    EXPECT_EQ(w.states(), (std::vector<State> { State::InCounter }));
    EXPECT_EQ(w.transform(w.coins[0]).position.x, icon.target[0]);
    EXPECT_EQ(w.transform(w.coins[0]).position.y, icon.target[1]);
    EXPECT_FALSE(w.world().isActive(w.coins[0]));
    ASSERT_TRUE(isValidEntity(w.world(), icon.counterIcon));
    EXPECT_NE(icon.counterIcon, w.counterIcon);
    EXPECT_EQ(icon.scale, 0.0f);

    w.frame();
    ASSERT_EQ(w.overlay.items().size(), 1u);
    EXPECT_EQ(w.overlay.items()[0].extent[0], 0.0f);
    EXPECT_EQ(w.overlay.items()[0].position[0], slotX(0));
    const f32 grown = easeElasticOut(kFrame / 0.5f, 0.0f, 1.0f, 0.5f);
    EXPECT_EQ(icon.scale, grown);
    w.frame();
    ASSERT_EQ(w.overlay.items().size(), 1u);
    const OverlayItem& sprite = w.overlay.items()[0];
    EXPECT_FLOAT_EQ(sprite.extent[0], kIconWidth * grown / 2);
    EXPECT_FLOAT_EQ(sprite.extent[1], kIconHeight * grown / 2);
    EXPECT_EQ(sprite.position[1], kIconHeight / 2 + 20);
    w.frames(3);
    EXPECT_EQ(icon.scale, 1.0f);

    // The clone stays glued to the slot while the camera moves.
    w.transform(w.camera).position.x = 5.0f;
    w.frame();
    EXPECT_NEAR(w.transform(icon.counterIcon).position.x, w.behind(icon.slot).x, 1e-3f);
    EXPECT_NEAR(w.transform(icon.counterIcon).position.x, icon.target[0], 1e-6f);
}

TEST(CollectibleCounter, SpentIconsLeaveTheirSlotsToLaterOnes)
{
    CounterWorld w(4);
    w.start();
    for (u64 i = 0; i < 3; ++i)
        w.collectAndLand(i);
    w.collectibles->consumeCollectible();
    w.collectAndLand(3);
    ASSERT_EQ(w.states(), (std::vector<State> { State::InCounter, State::InCounter, State::Spent, State::InCounter }));
    EXPECT_EQ(w.collectibles->icon(3).slot[0], slotX(2));
    f32 slot[2];
    w.collectibles->slotPosition(3, slot);
    EXPECT_EQ(slot[0], slotX(2));
    EXPECT_EQ(slot[1], kIconHeight / 2 + 20);
    // The icon's own state does not count for its slot.
    w.collectibles->slotPosition(4, slot);
    EXPECT_EQ(slot[0], slotX(3));
}

TEST(CollectibleCounter, PayingFliesTheNewestUnspentIconToTheSavePoint)
{
    CounterWorld w(4);
    const EntityHandle base = w.scene.add("base", { "Transform" });
    w.transform(base).position = { 10.0f, -2.0f, 0.0f };
    const EntityHandle savePoint = w.scene.add("savePoint", { "Transform", "SavePointTrigger" }, base);
    w.transform(savePoint).position = { 1.0f, 2.0f, 3.0f };
    w.start();
    for (u64 i = 0; i < 3; ++i)
        w.collectAndLand(i);
    w.frames(4);
    const EntityHandle clone = w.collectibles->icon(2).counterIcon;
    ASSERT_TRUE(w.world().isActive(clone));

    w.pay(w.scene.get<SavePointTrigger>(savePoint));
    // The counter's clone makes way for the one that sees the collectible off.
    EXPECT_FALSE(w.world().isActive(clone));
    const EntityHandle leaving = w.collectibles->icon(2).counterIcon;
    EXPECT_TRUE(w.world().isActive(leaving));
    EXPECT_EQ(w.collectibles->collectedCount(), 2);
    EXPECT_EQ(w.states(), (std::vector<State> { State::InCounter, State::InCounter, State::ToSavePoint }));
    // Back in the level, on its way; its sprite is gone from the counter.
    EXPECT_TRUE(w.world().isActive(w.coins[2]));
    w.frame();
    EXPECT_EQ(w.overlay.items().size(), 2u);

    w.frames(3);
    EXPECT_EQ(w.states(), (std::vector<State> { State::InCounter, State::InCounter, State::Spent }));
    const Vector3 at = w.transform(w.coins[2]).position;
    EXPECT_EQ(at.x, 11.0f);
    EXPECT_EQ(at.y, 0.0f);
    EXPECT_EQ(at.z, 3.0f);
    EXPECT_FALSE(w.world().isActive(w.coins[2]));
    // Nothing of a spent icon stays behind in the level.
    EXPECT_FALSE(w.world().isActive(leaving));

    // The next collectible takes the freed slot.
    w.collectAndLand(3);
    EXPECT_EQ(w.collectibles->icon(3).slot[0], slotX(2));
    w.frame();
    ASSERT_EQ(w.overlay.items().size(), 3u);
    EXPECT_EQ(w.overlay.items()[2].position[0], slotX(2));
}

TEST(CollectibleCounter, StartMoneyIsPaidWithoutAnIcon)
{
    CounterWorld w;
    Settings::Development.moneyStart = 1;
    w.start();
    w.collectAndLand(0);
    SavePointTrigger savePoint {};
    w.pay(savePoint);
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToSavePoint }));
    // The start money has no icon to fly; paying with it still spends it.
    w.pay(savePoint);
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToSavePoint }));
    w.pay(savePoint);
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
}

TEST(CollectibleCounter, ARestoreKeepsTheCollectedOutOfTheLevel)
{
    CounterWorld w;
    const EntityHandle sparkle = w.scene.add("sparkle", { "Transform" }, EntityHandle {});
    w.start();
    w.scene.setParent(sparkle, w.coins[1]);
    w.context.transformHierarchy->rebuildChildLists(w.world());
    w.collectAndLand(1);
    // The restored world has the collectible as it was before the pick-up.
    w.scene.get<Collectible>(w.coins[1]).picked = 0;
    const EntityHandle back[] = { w.coins[1], sparkle };
    w.world().activateEntities(back, 2);
    ASSERT_TRUE(w.world().isActive(w.coins[1]));

    w.collectibles->restoreSnapshot(w.world());
    EXPECT_EQ(w.scene.get<Collectible>(w.coins[1]).picked, 1);
    EXPECT_FALSE(w.world().isActive(w.coins[1]));
    EXPECT_FALSE(w.world().isActive(sparkle));
    EXPECT_TRUE(w.world().isActive(w.coins[0]));
}

TEST(CollectibleCounter, WorldStartHangsCollectiblesUnderTheRootWhereTheyStand)
{
    CounterWorld w(0);
    const EntityHandle parent = w.scene.add("parent", { "Transform" });
    w.transform(parent).position = { 10.0f, 0.0f, 0.0f };
    w.transform(parent).rotation = quern::math::Quaternion::fromAxisAngle(1.5707964f, { 0.0f, 0.0f, 1.0f });
    const EntityHandle coin = w.scene.add("coin", { "Transform", "Collectible" }, parent);
    w.transform(coin).position = { 1.0f, 0.0f, 0.0f };
    w.start();
    const Transform& t = w.transform(coin);
    EXPECT_EQ(t.parent, EntityHandle {});
    EXPECT_NEAR(t.position.x, 10.0f, 1e-5f);
    EXPECT_NEAR(t.position.y, 1.0f, 1e-5f);
    EXPECT_NEAR(t.rotation.z, w.transform(parent).rotation.z, 1e-6f);
    EXPECT_NEAR(t.rotation.w, w.transform(parent).rotation.w, 1e-6f);
    EXPECT_EQ(w.collectibles->collectiblesInWorld(), 1u);
}

TEST(CollectibleCounter, TweenRecordsNeverMove)
{
    CounterWorld w(15);
    const EntityHandle savePoint = w.scene.add("savePoint", { "Transform", "SavePointTrigger" });
    w.start();
    const quern::containers::Array& tweens = w.collectibles->tweens();
    ASSERT_EQ(tweens.capacity(), CollectibleSystem::kTweenCapacity);
    const void* records = tweens.data();
    for (u64 i = 0; i < 15; ++i)
        w.collect(i);
    w.frames(6);
    for (u64 i = 0; i < 15; ++i)
        w.pay(w.scene.get<SavePointTrigger>(savePoint));
    w.frames(6);
    EXPECT_EQ(w.states(), std::vector<State>(15, State::Spent));
    EXPECT_EQ(tweens.data(), records);
    EXPECT_EQ(tweens.capacity(), CollectibleSystem::kTweenCapacity);
    EXPECT_LE(tweens.count(), CollectibleSystem::kTweenCapacity);
}

// A game whose level list names no counter texture counts and flies its
// collectibles without drawing the counter.
TEST(CollectibleCounter, WithoutACounterTextureNothingIsDrawn)
{
    CounterWorld w(2, CounterAsset::Unnamed);
    w.start();
    EXPECT_EQ(w.collectibles->counterTexture(), 0u);
    w.collectAndLand(0);
    w.frames(3);
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    EXPECT_EQ(w.states(), (std::vector<State> { State::InCounter }));
    EXPECT_TRUE(w.overlay.items().empty());
}

TEST(CollectibleCounterDeathTest, ALevelWithMoreCollectiblesThanSlotsIsRefused)
{
    EXPECT_DEATH(
        {
            CounterWorld w(16);
            w.start();
        },
        "The level holds 16 collectibles; the counter has room for 15");
}

TEST(CollectibleCounterDeathTest, ACounterTextureThatIsNoTextureIsFatal)
{
    for (const CounterAsset asset : { CounterAsset::Missing, CounterAsset::OtherResource }) {
        EXPECT_DEATH(
            {
                CounterWorld w(1, asset);
                w.start();
            },
            "Unreachable code hit")
            << static_cast<int>(asset);
    }
}

} // namespace
} // namespace harmonize
