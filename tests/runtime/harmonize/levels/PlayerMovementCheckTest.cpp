#include "LevelSource.h"

#include <gtest/gtest.h>

using namespace quern::assetbuild;

namespace {

// Both dampings divide the player's velocity every tick.
TEST(PlayerMovementCheck, RefusesDampingsNotAboveZeroNamingLevelAndEntity)
{
    struct Case {
        const char* tuning;
        const char* message; // "" when the level is accepted
    };
    const Case cases[] = {
        { "PlayerMovement.walkDamping 1.2\nPlayerMovement.airDamping 1.05\n", "" },
        { "PlayerMovement.walkDamping 0.5\nPlayerMovement.airDamping 0.001\n", "" },
        { "PlayerMovement.airDamping 1\n", "level line 2: level moves: the PlayerMovement of hero needs walkDamping above 0" },
        { "PlayerMovement.walkDamping 1\n", "the PlayerMovement of hero needs airDamping above 0" },
        { "PlayerMovement.walkDamping -1\nPlayerMovement.airDamping 1\n", "needs walkDamping above 0" },
        { "PlayerMovement.walkDamping 1\nPlayerMovement.airDamping -0.0\n", "needs airDamping above 0" },
        // Too small for a float: it is stored as 0.
        { "PlayerMovement.walkDamping 1\nPlayerMovement.airDamping 1e-46\n", "needs airDamping above 0" },
    };
    for (const Case& c : cases) {
        const std::string source = std::string("entity camera\nentity hero\n") + c.tuning + "entity after\n";
        WorldDocument document;
        std::string error;
        const bool accepted = readLevelSource(source, "moves", document, error);
        if (c.message[0] == '\0') {
            EXPECT_TRUE(accepted) << c.tuning << error;
            continue;
        }
        EXPECT_FALSE(accepted) << c.tuning;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.tuning << "\n  gave: " << error;
    }
}

TEST(PlayerMovementCheck, NamesTheLevelTheSourceGivesAndTheAssetInTheBuild)
{
    WorldDocument document;
    std::string error;
    EXPECT_FALSE(readLevelSource("world arena\nentity p\nPlayerMovement.walkDamping 1\n", "file", document, error));
    EXPECT_NE(error.find("level arena: the PlayerMovement of p needs airDamping"), std::string::npos) << error;

    ManifestAsset asset;
    asset.name = "levels/moves";
    asset.type = "level";
    asset.line = 7;
    const std::string source = "entity p\nPlayerMovement.airDamping 1\n";
    std::vector<quern::u8> bytes(source.begin(), source.end());
    EXPECT_FALSE(convertLevelContent(asset, bytes, error));
    EXPECT_EQ(error.rfind("line 7: levels/moves: level line 1: level moves: the PlayerMovement of p", 0), 0u) << error;
}

} // namespace
