// The player's progress through the App: the offline login of the first
// frame, the savegame asked for and written to the user folder when a level
// is finished, read back by the next run, and the in-level checkpoint taken
// as the level starts and put back on request.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Transform.h"
#include "harmonize/savegame/Savegame.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "support/LogCapture.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::useSmallDummyWindow();
        Settings::Threading.enabled = false;
        testing::buildPlaygroundGame(content, "progress-");
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
        PlayerProfile::clear();
    }

    std::unique_ptr<App> start()
    {
        auto app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        return app;
    }
    void frame(App& app)
    {
        m_time += 166'666;
        app.runFrame(m_time);
        app.drainAppEvents();
    }
    // Frames until the condition holds (at most 400); false when it never did.
    template <class Condition> bool runUntil(App& app, Condition condition)
    {
        for (i32 i = 0; i < 400; ++i) {
            if (condition())
                return true;
            frame(app);
            // The storage answers on its own thread.
            if (quern::io::getUserStorage().pendingCount() != 0)
                quern::io::getUserStorage().waitUntilIdle();
        }
        return condition();
    }
    std::vector<u8> savedFile() const
    {
        std::ifstream in(userFolder.path() / kSavegameFileName, std::ios::binary);
        return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
    }

    testing::TemporaryUserFolder userFolder;
    testing::GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
    i64 m_time = 0;
};

TEST_F(ProgressTest, AFinishedLevelIsWrittenAndTheNextRunReadsItBack)
{
    {
        quern::testing::LogCapture log(3);
        auto app = start();
        // The first frame logs in; the savegame is asked for and is missing.
        ASSERT_TRUE(runUntil(*app, [&] { return app->savegame().status == SavegameStatus::None; }));
        EXPECT_TRUE(app->loggedIn());
        EXPECT_TRUE(PlayerProfile::statsReceived);
        EXPECT_FALSE(fs::exists(userFolder.path() / kSavegameFileName));
        ASSERT_TRUE(runUntil(*app, [&] { return app->currentLevelIndex() == 0; }));

        app->appEventQueue().post(AppEventType::LevelFinished);
        ASSERT_TRUE(runUntil(*app, [&] { return app->savegame().status == SavegameStatus::Loaded; }));
        EXPECT_TRUE(log.contains("Writing user file")) << log.text();
        app->shutdown();
    }
    const std::vector<u8> file = savedFile();
    ASSERT_EQ(file.size(), kSavegameImageSize);
    ProgressRecord written {};
    ASSERT_TRUE(Savegame::unscrambleImage(written, file.data(), file.size()));
    EXPECT_EQ(written.lastLevelId, 1);

    auto again = start();
    ASSERT_TRUE(runUntil(*again, [&] { return again->savegame().status == SavegameStatus::Loaded; }));
    const Savegame& read = again->savegame();
    EXPECT_EQ(read.record.lastLevelId, 1);
    EXPECT_EQ(read.record.nextLevelId, 1); // the only level follows itself
    const i32 slot = read.findSlot(1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(read.record.completions[slot], 1);
    EXPECT_TRUE(read.isLevelUnlocked(again->levelList().levelRecord(0)));
    again->shutdown();
}

TEST_F(ProgressTest, WithIgnoreSavegameNothingIsAskedFor)
{
    Settings::Development.ignoreSavegame = true;
    auto app = start();
    ASSERT_TRUE(runUntil(*app, [&] { return app->currentLevelIndex() == 0; }));
    for (i32 i = 0; i < 5; ++i)
        frame(*app);
    EXPECT_TRUE(app->loggedIn());
    EXPECT_EQ(app->savegame().status, SavegameStatus::NotRequested);
    app->shutdown();
}

TEST_F(ProgressTest, TheLevelStartSavesAndLoadSaveGamePutsThePlayerBack)
{
    auto app = start();
    ASSERT_TRUE(runUntil(*app, [&] { return app->currentLevelIndex() == 0; }));
    AppContext& context = app->context(app->currentLevelWorld());
    ASSERT_NE(context.saveGame, nullptr);
    ASSERT_TRUE(runUntil(*app, [&] { return context.saveGame->holdsQuickSave(); }));

    quern::entity::World& world = app->worldSwapper().getWorld(static_cast<u64>(app->currentLevelWorld()));
    const quern::entity::EntityHandle player = context.saveGame->player();
    Transform& transform = transformAt(world, player.index());
    const quern::math::Vector3 saved = transform.position;
    transform.position = { saved.x + 4.0f, saved.y + 1.0f, saved.z };

    quern::testing::LogCapture log(3);
    app->appEventQueue().post(AppEventType::LoadSaveGame);
    frame(*app);
    EXPECT_TRUE(log.contains("Restoring quick save")) << log.text();
    EXPECT_EQ(transform.position.x, saved.x);
    EXPECT_EQ(transform.position.y, saved.y);
    app->shutdown();
}

} // namespace
} // namespace harmonize
