#include "LevelSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quern;
using namespace quern::assetbuild;

namespace {

// A platform cluster "shelf" with two boxes 2 apart; `west` and `east` are
// appended to its boxes, `extra` to the level.
std::string level(const std::string& west, const std::string& east, const std::string& extra = "")
{
    return "entity player\nTransform.position 0 3 0\n"
           "entity shelf\nTransform.position 0 1 0\nCollider.halfExtents 2 0.5 1\nRace.value 1\nPlatform.hiddenTime 1\n"
           "SnapboxCluster.boxes west east\nSnapboxCluster.boxCount 2\n"
           "entity west parent shelf\nTransform.position -1 0 0\nSnapbox.cluster shelf\n"
        + west + "entity east parent shelf\nTransform.position 1 0 0\nSnapbox.cluster shelf\n" + east + extra;
}

bool convert(const std::string& source, const char* type, std::string& error)
{
    ManifestAsset asset;
    asset.name = "levels/shelf";
    asset.type = type;
    asset.line = 7;
    std::vector<u8> bytes(source.begin(), source.end());
    return convertLevelContent(asset, bytes, error);
}

TEST(SnapboxCheck, AClusterWithoutAPairIsRefusedByName)
{
    struct Case {
        const char* name;
        std::string source;
        const char* entity;
    };
    const Case cases[] = {
        { "no neighbours", level("", ""), "1" },
        { "a neighbour 3.5 off its expected distance",
            level("Snapbox.neighbours east\nSnapbox.neighbourDistances 5.5\n", ""), "1" },
        { "a neighbour that is no snap box", level("Snapbox.neighbours player\nSnapbox.neighbourDistances 2\n", ""),
            "1" },
        { "one box only",
            "entity shelf\nCollider.halfExtents 2 0.5 1\nSnapboxCluster.boxes only\nSnapboxCluster.boxCount 1\n"
            "entity only parent shelf\nSnapbox.cluster shelf\n",
            "0" },
    };
    for (const Case& c : cases) {
        for (const char* type : { "level", "leveltext" }) {
            std::string error;
            EXPECT_FALSE(convert(c.source, type, error)) << c.name;
            EXPECT_EQ(error,
                std::string("line 7: levels/shelf: level shelf: no box of the snap-box cluster shelf (entity ") + c.entity
                    + ") pairs with a neighbour")
                << c.name;
        }
    }
}

TEST(SnapboxCheck, ClustersThatPairPass)
{
    struct Case {
        const char* name;
        std::string source;
    };
    const Case cases[] = {
        { "a pair in one direction", level("Snapbox.neighbours east\nSnapbox.neighbourDistances 2\n", "") },
        { "exactly 3 off the expected distance", level("", "Snapbox.neighbours west\nSnapbox.neighbourDistances 5\n") },
        // Blockers and hidden platforms come and go in play: only the layout counts.
        { "a pair under a blocker",
            level("Snapbox.neighbours east\nSnapbox.neighbourDistances 2\nSnapbox.blocker rock\n", "",
                "entity rock parent shelf\nCollider.halfExtents 3 3 3\n") },
        { "a pair on a platform hidden at the start",
            level("Snapbox.neighbours east\nSnapbox.neighbourDistances 2\n", "")
                + "entity late\nTransform.position 9 9 0\nCollider.halfExtents 1 1 1\nCollider.trigger 1\nRace.value 1\nPlatform\n"
                  "SnapboxCluster.boxes lateWest lateEast\nSnapboxCluster.boxCount 2\n"
                  "entity lateWest parent late\nSnapbox.cluster late\nSnapbox.neighbours lateEast\n"
                  "Snapbox.neighbourDistances 0\nentity lateEast parent late\nSnapbox.cluster late\n" },
        { "a cluster without boxes", "entity bare\nSnapboxCluster.boxCount 0\n" },
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_TRUE(convert(c.source, "level", error)) << c.name << ": " << error;
    }
}

} // namespace
