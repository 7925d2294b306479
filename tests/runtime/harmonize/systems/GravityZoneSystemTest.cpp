#include "harmonize/systems/GravityZoneSystem.h"

#include "harmonize/Scenario.h"
#include "harmonize/components/Components.h"

#include <gtest/gtest.h>

#include <numbers>

namespace harmonize {
namespace {

using quern::math::Quaternion;
using quern::math::Vector3;
using testing::Scenario;

Quaternion aboutZ(f32 degrees) { return Quaternion::fromAxisAngle(degrees * std::numbers::pi_v<f32> / 180.0f, { 0, 0, 1 }); }

struct ZoneWorld {
    ZoneWorld() { scene.addSystem(new GravityZoneSystem); }

    EntityHandle addZone(Quaternion rotation, EntityHandle parent = {})
    {
        const EntityHandle zone = scene.add("zone", { "Transform", "Collider", "GravityZone" }, parent);
        scene.get<Transform>(zone).rotation = rotation;
        scene.get<GravityZone>(zone).direction = { 7.0f, 7.0f };
        return zone;
    }
    Vec2f direction(EntityHandle zone) { return scene.get<GravityZone>(zone).direction; }

    Scenario scene;
};

TEST(GravityZoneSystem, AZonePullsAlongItsTurnedDownAxis)
{
    const struct {
        f32 degrees;
        Vec2f direction;
    } cases[] = {
        { 0.0f, { 0.0f, -1.0f } },
        { 180.0f, { 0.0f, 1.0f } }, // a half turn pulls up
        { 90.0f, { 1.0f, 0.0f } }, // +X goes to +Y, so -Y goes to +X
        { -90.0f, { -1.0f, 0.0f } },
        { 45.0f, { std::numbers::sqrt2_v<f32> / 2.0f, -std::numbers::sqrt2_v<f32> / 2.0f } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        ZoneWorld w;
        const EntityHandle zone = w.addZone(aboutZ(c.degrees));
        w.scene.start();
        EXPECT_NEAR(w.direction(zone).x, c.direction.x, 1e-6f);
        EXPECT_NEAR(w.direction(zone).y, c.direction.y, 1e-6f);
    }
}

TEST(GravityZoneSystem, TheParentsTurnCountsButNotTheirScale)
{
    ZoneWorld w;
    const EntityHandle parent = w.scene.add("parent", { "Transform" });
    w.scene.get<Transform>(parent).rotation = aboutZ(90.0f);
    w.scene.get<Transform>(parent).scale = { 3.0f, -2.0f, 1.0f };
    const EntityHandle zone = w.addZone(aboutZ(90.0f), parent);
    w.scene.start();
    EXPECT_NEAR(w.direction(zone).x, 0.0f, 1e-6f);
    EXPECT_NEAR(w.direction(zone).y, 1.0f, 1e-6f);
}

TEST(GravityZoneSystem, OnlyZonesWithACollider)
{
    ZoneWorld w;
    const EntityHandle zone = w.addZone(aboutZ(180.0f));
    w.scene.world().getComponentMask(zone.index()).reset(Collider::kType);
    // A dormant zone (a prefab template) is set up all the same.
    const EntityHandle dormant = w.scene.add("template", { "Transform", "Collider", "GravityZone" }, {}, true);
    w.scene.start();
    EXPECT_EQ(w.direction(zone).x, 7.0f);
    EXPECT_EQ(w.direction(zone).y, 7.0f);
    EXPECT_NEAR(w.direction(dormant).y, -1.0f, 1e-6f);
}

} // namespace
} // namespace harmonize
