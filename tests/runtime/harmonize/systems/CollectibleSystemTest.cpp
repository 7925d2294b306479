#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"

#include "quern/platform/AssertDebug.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harmonize {
namespace {

using testing::Scenario;

std::vector<std::string> warnings;
void recordWarning(const quern::debug::AssertionRecord& record) { warnings.push_back(record.message); }

// A level with three collectibles, none in hand at the start; soft
// assertions at warning level are recorded instead of logged.
struct CollectibleWorld {
    CollectibleWorld()
    {
        Settings::resetToDefaults();
        Settings::Development.moneyStart = 0;
        context.collectible = collectibles;
        scene.addSystem(collectibles);
        for (EntityHandle& coin : coins) {
            coin = scene.add("coin", { "Transform", "Collectible" });
            scene.get<Collectible>(coin) = Collectible {};
        }
        scene.world().attachSystems(nullptr);
        scene.start();
        warnings.clear();
        auto& handlers = quern::platform::assertionHandlers();
        previous = handlers[quern::debug::kAssertWarning];
        handlers[quern::debug::kAssertWarning] = recordWarning;
    }
    ~CollectibleWorld()
    {
        quern::platform::assertionHandlers()[quern::debug::kAssertWarning] = previous;
        Settings::resetToDefaults();
    }

    void collect(u64 n) { collectibles->onCollected(coins[n], scene.world()); }
    std::vector<CollectibleIconState> states()
    {
        std::vector<CollectibleIconState> out;
        for (u64 i = 0; i < collectibles->iconCount(); ++i)
            out.push_back(collectibles->icon(i).state);
        return out;
    }

    AppContext context;
    Scenario scene { 8 };
    CollectibleSystem* collectibles = new CollectibleSystem(context);
    EntityHandle coins[3];
    quern::platform::AssertionHandler previous = nullptr;
};

using State = CollectibleIconState;

TEST(CollectibleSystem, ConsumingSpendsTheNewestUnspentIconFirst)
{
    CollectibleWorld w;
    w.collect(0);
    w.collect(1);
    w.collectibles->consumeCollectible();
    w.collect(2);
    ASSERT_EQ(w.states(), (std::vector<State> { State::ToCounter, State::Spent, State::ToCounter }));

    w.collectibles->consumeCollectible();
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToCounter, State::Spent, State::Spent }));
    w.collectibles->consumeCollectible();
    EXPECT_EQ(w.states(), (std::vector<State> { State::Spent, State::Spent, State::Spent }));
    EXPECT_TRUE(warnings.empty());
    // The counter is the tally's own business.
    EXPECT_EQ(w.collectibles->collectedCount(), 3);

    w.collectibles->consumeCollectible();
    EXPECT_EQ(warnings, (std::vector<std::string> { "No unspent collectibles in inventory" }));
    EXPECT_EQ(w.states(), (std::vector<State> { State::Spent, State::Spent, State::Spent }));
}

TEST(CollectibleSystem, AnIconOnItsWayToASavePointIsNotConsumed)
{
    CollectibleWorld w;
    w.collect(0);
    w.collect(1);
    SavePointTrigger savePoint {};
    w.collectibles->payAtSavePoint(savePoint, w.scene.world());
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToCounter, State::ToSavePoint }));
    w.collectibles->consumeCollectible();
    EXPECT_EQ(w.states(), (std::vector<State> { State::Spent, State::ToSavePoint }));
    w.collectibles->consumeCollectible();
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(CollectibleSystem, PayingLowersTheCounterButNeverBelowZero)
{
    CollectibleWorld w;
    SavePointTrigger savePoint {};
    w.collect(0);
    w.collect(0); // picked already: counted once
    EXPECT_EQ(w.collectibles->collectedCount(), 1);
    w.collectibles->payAtSavePoint(savePoint, w.scene.world());
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
    w.collectibles->payAtSavePoint(savePoint, w.scene.world());
    EXPECT_EQ(w.collectibles->collectedCount(), 0);
    EXPECT_EQ(w.states(), (std::vector<State> { State::ToSavePoint }));
}

} // namespace
} // namespace harmonize
