// The demo's playground level, built from its source by the content tool and
// loaded as the game loads a level.

#include "DemoContent.h"

#include "harmonize/components/Components.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "harmonize/TransformExpectations.h"

#include "quern/assets/DepotSource.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/serialize/PODUtility.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace harmonize;
using quern::entity::World;
using quern::math::Matrix4;
using quern::math::Quaternion;

namespace {

using harmonize::testing::assetId;

class PlaygroundLevel : public ::testing::Test {
protected:
    void buildContent()
    {
        out = harmonize::testing::buildDemoContent(
            ::testing::UnitTest::GetInstance()->current_test_info()->name(), "files");
    }

    void SetUp() override
    {
        world.addSystem(hierarchy);
        buildContent();
        if (HasFailure())
            return;
        quern::assets::FileSystemDepot depot(out.c_str());
        quern::assets::DepotSource source(depot, depot.open(assetId("levels/playground")), true);
        quern::entity::loadWorld(source, quern::serialize::selectPODToken(source), world, 16, nullptr, "playground");
    }

    EntityHandle find(const char* name)
    {
        for (quern::u64 i = 0; i < world.getSlotCount(); ++i) {
            const EntityHandle e = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
            if (std::strcmp(world.getEntityName(e), name) == 0)
                return e;
        }
        ADD_FAILURE() << "no entity " << name;
        return {};
    }
    Transform& transform(EntityHandle e) { return *static_cast<Transform*>(world.getComponent(e.index(), 23)); }

    std::string out;
    World world;
    TransformHierarchySystem* hierarchy = new TransformHierarchySystem;
};

TEST_F(PlaygroundLevel, ModelMatchesTheCodeAndADifferentOneDoesNot)
{
    EXPECT_TRUE(matchesComponentSizeTable(world));
    std::vector<quern::u16> sizes(world.componentSizes, world.componentSizes + world.componentTypeCount);
    EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), sizes.size() - 1));
    sizes.push_back(8);
    EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), sizes.size()));
    sizes.pop_back();
    sizes[Transform::kType] = 48;
    EXPECT_FALSE(matchesComponentSizeTable(sizes.data(), sizes.size()));
}

TEST_F(PlaygroundLevel, HoldsThePlayerAndBothCameras)
{
    const EntityHandle player = find("player");
    EXPECT_TRUE(isPlayerEntity(world, player));
    EXPECT_EQ(static_cast<CollisionLayer*>(world.getComponent(player.index(), CollisionLayer::kType))->layer, 8u);
    EXPECT_TRUE(world.getComponentMask(find("gameCamera").index()).containsAll(kGameCameraMask));
    const EntityHandle follow = find("followCamera");
    EXPECT_TRUE(world.getComponentMask(follow.index()).containsAll(kFollowCameraMask));
    EXPECT_EQ(static_cast<CameraFollow*>(world.getComponent(follow.index(), CameraFollow::kType))->target, player);
    for (const char* cluster : { "ground", "ledge" })
        EXPECT_TRUE(world.getComponentMask(find(cluster).index()).containsAll(kSnapboxClusterMask)) << cluster;
    const auto* ground
        = static_cast<SnapboxCluster*>(world.getComponent(find("ground").index(), SnapboxCluster::kType));
    EXPECT_EQ(ground->boxCount, 3);
    EXPECT_EQ(ground->boxes[1], find("groundMiddle"));
}

TEST_F(PlaygroundLevel, TransformsGiveTheWorldMatricesOfTheirChains)
{
    world.start();
    struct Case {
        const char* entity;
        std::vector<const char*> chain; // root first
    };
    const Case cases[] = {
        { "player", { "player" } },
        { "playerModel", { "player", "playerModel" } },
        { "groundRight", { "ground", "groundRight" } },
        { "ledgeBox", { "ledge", "ledgeBox" } },
        { "crateLatch", { "crate", "crateLid", "crateLatch" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entity);
        Matrix4 expected;
        for (const char* name : c.chain)
            expected = expected * harmonize::testing::expectedLocalMatrix(transform(find(name)));
        harmonize::testing::expectMatrixNear(hierarchy->worldMatrix(find(c.entity).index()), expected);
    }
    // The model faces the camera: its local +X turns to -Z, at half size.
    const Matrix4& model = hierarchy->worldMatrix(find("playerModel").index());
    EXPECT_NEAR(model.m[2], -0.5f, 1e-5f);
    EXPECT_NEAR(model.m[13], 0.1f, 1e-5f);
}

TEST_F(PlaygroundLevel, PrefabSubtreeClonesActivatesAndIsDestroyedAgain)
{
    world.start();
    const EntityHandle crate = find("crate");
    for (const char* name : { "crate", "crateLid", "crateLatch" })
        EXPECT_FALSE(world.isActive(find(name))) << name;
    const quern::u64 live = world.liveEntityCount;
    const EntityHandle parent = find("ledge");
    const EntityHandle clone = Transform::cloneSubtree(transform(crate), world, parent);
    ASSERT_TRUE(isSomeEntity(clone));
    EXPECT_EQ(world.liveEntityCount, live + 3);
    EXPECT_EQ(transform(clone).parent, parent);
    world.fixedTick(1); // the hierarchy picks up the new children
    const EntityHandle latch = Transform::findByPath(transform(clone), "crateLid/crateLatch", world, *hierarchy);
    ASSERT_TRUE(isSomeEntity(latch));
    EXPECT_NE(latch, find("crateLatch"));
    for (EntityHandle e : { clone, latch })
        EXPECT_TRUE(world.isActive(e));
    // The clone's latch hangs below the ledge now.
    const quern::math::Vector3 at = Transform::localToWorld(transform(latch), {}, world);
    const quern::math::Vector3 expected = Transform::localToWorld(transform(find("ledge")), { 0.4f, -99.5f, 0 }, world);
    EXPECT_NEAR(at.x, expected.x, 1e-4f);
    EXPECT_NEAR(at.y, expected.y, 1e-4f);

    Transform::destroySubtree(transform(clone), world);
    EXPECT_EQ(world.liveEntityCount, live);
    EXPECT_FALSE(world.isValid(clone));
    EXPECT_FALSE(world.isValid(latch));
    EXPECT_TRUE(world.isValid(crate));
}

} // namespace
