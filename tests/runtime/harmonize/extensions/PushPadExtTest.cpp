#include "ContactWorld.h"

#include "harmonize/components/PlaneMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::ContactWorld;

constexpr f32 kPushSpeed = 10.0f;
constexpr u64 kPadSound = 0x5eed;
const Vector3 kPadAt { 5.0f, 5.0f, 0.0f };

Vec2f turned(Vec2f v, f32 degrees) { return rotated(v, degrees * std::numbers::pi_v<f32> / 180.0f); }

// A push pad at kPadAt turned `degrees` about the view axis.
struct PadWorld : ContactWorld {
    explicit PadWorld(f32 degrees)
    {
        pad = scene.add("pad", { "Transform", "Collider", "Race", "PushPad" });
        Transform& t = get<Transform>(pad);
        t.position = kPadAt;
        t.rotation = Quaternion::fromAxisAngle(degrees * std::numbers::pi_v<f32> / 180.0f, Vector3 { 0, 0, 1 });
        PushPad& p = get<PushPad>(pad);
        p.pushSpeed = kPushSpeed;
        p.airSpeedDivisor = 1.25f;
        p.sound = kPadSound;
        PlayerMovement& m = movement();
        m.velocity = { 3.0f, -4.0f };
        m.pushCountdown = 7;
        start();
    }
    // Puts the player at a place given in the pad's own axes.
    void placePlayer(Vec2f padLocal, f32 degrees)
    {
        const Vec2f at = turned(padLocal, degrees);
        get<Transform>(player).position = kPadAt + Vector3 { at.x, at.y, 0.0f };
    }
    EntityHandle pad;
};

void expectNear(Vec2f actual, Vec2f expected, const char* what)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-4f) << what;
    EXPECT_NEAR(actual.y, expected.y, 1e-4f) << what;
}

TEST(PushPadExt, PushesAlongThePadAxisThatPointsTowardsThePlayer)
{
    const struct {
        const char* what;
        f32 degrees;
        Vec2f playerInPad; // where the player stands, in the pad's axes
        bool useUpAxis;
        bool swapped; // the pair reported pad first
        Vec2f axisInPad; // the push direction expected, in the pad's axes
    } cases[] = {
        { "turned 30, mostly above", 30.0f, { 0.8f, 2.0f }, false, false, { 0, 1 } },
        { "turned 30, mostly above, pair swapped", 30.0f, { 0.8f, 2.0f }, false, true, { 0, 1 } },
        { "at the centre", 30.0f, { 0.0f, 0.0f }, false, false, { 0, 1 } },
        { "mostly right", 30.0f, { 3.0f, 1.0f }, false, false, { 1, 0 } },
        { "mostly left", 0.0f, { -3.0f, -1.0f }, false, false, { -1, 0 } },
        { "below", 0.0f, { 0.5f, -2.0f }, false, false, { 0, -1 } },
        // Exactly diagonal: the earlier axis of up, left, down, right wins.
        { "diagonal tie", 0.0f, { 1.0f, 1.0f }, false, false, { 0, 1 } },
        { "up axis though right", 30.0f, { 3.0f, 0.0f }, true, false, { 0, 1 } },
        { "up axis though below", 90.0f, { 0.0f, -3.0f }, true, true, { 0, 1 } },
    };
    for (const auto& c : cases) {
        PadWorld w(c.degrees);
        w.get<PushPad>(w.pad).useUpAxis = c.useUpAxis ? 1 : 0;
        w.placePlayer(c.playerInPad, c.degrees);
        onPushPadContact(c.swapped ? ContactWorld::pair(w.pad, w.player) : ContactWorld::pair(w.player, w.pad),
            w.world(), w.context);
        const PlayerMovement& m = w.movement();
        expectNear(m.pushVelocity, turned(c.axisInPad, c.degrees) * kPushSpeed, c.what);
        EXPECT_EQ(m.pushDecay, 1.25f) << c.what;
        EXPECT_EQ(m.pushCountdown, 0) << c.what;
        EXPECT_TRUE(isZero(m.velocity)) << c.what;
    }
}

TEST(PushPadExt, QueuesThePadSoundWhereThePadIs)
{
    PadWorld w(0.0f);
    w.placePlayer({ 0.0f, 1.0f }, 0.0f);
    onPushPadContact(ContactWorld::pair(w.player, w.pad), w.world(), w.context);
    ASSERT_EQ(w.sound->requestCount(), 1u);
    const SoundRequest& r = w.sound->request(0);
    EXPECT_EQ(r.soundId, kPadSound);
    EXPECT_EQ(r.kind, SoundRequest::Play);
    EXPECT_EQ(r.positional, 1);
    EXPECT_EQ(r.position.x, kPadAt.x);
    EXPECT_EQ(r.position.y, kPadAt.y);

    PadWorld silent(0.0f);
    silent.get<PushPad>(silent.pad).sound = 0;
    onPushPadContact(ContactWorld::pair(silent.player, silent.pad), silent.world(), silent.context);
    EXPECT_EQ(silent.sound->requestCount(), 0u);
}

TEST(PushPadExt, APadThatIsAnEnabledPlatformKeepsThePushForTwoGroundTicks)
{
    for (const bool platformEnabled : { true, false }) {
        PadWorld w(0.0f);
        w.scene.set(w.pad, "Platform", "hiddenTime", { 1.0 });
        if (!platformEnabled)
            w.world().getEnabledMask(w.pad.index()).reset(Platform::kType);
        onPushPadContact(ContactWorld::pair(w.player, w.pad), w.world(), w.context);
        EXPECT_EQ(w.movement().pushCountdown, platformEnabled ? 2 : 0);
    }
}

TEST(PushPadExt, MatchingNeedsAPlayerAndACompletePad)
{
    PadWorld w(0.0f);
    // A pad without a Race is no pad; a handle with another generation of the
    // player's slot names the player that holds the slot now.
    const EntityHandle bare = w.scene.add("bare", { "Transform", "Collider", "PushPad" });
    PlayerView player;
    PadView pad;
    EXPECT_FALSE(matchPlayerAndPad(ContactWorld::pair(w.player, bare), w.world(), player, pad));
    EXPECT_FALSE(matchPlayerAndPad(ContactWorld::pair(w.pad, w.pad), w.world(), player, pad));

    const EntityHandle stale
        = EntityHandle::make(w.player.index(), static_cast<quern::u16>(w.world().getGeneration(w.player.index()) + 1));
    ASSERT_TRUE(matchPlayerAndPad(ContactWorld::pair(w.pad, stale), w.world(), player, pad));
    EXPECT_EQ(player.entity, w.player);
    EXPECT_EQ(pad.entity, w.pad);
    EXPECT_EQ(pad.pad, &w.get<PushPad>(w.pad));
}

} // namespace
} // namespace harmonize
