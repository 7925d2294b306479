#pragma once
// A test of one demo level through the App: the level built by the content
// tool into a folder of its own, its replay script built into the user
// folder, the App started on it and stepped one fixed tick a frame.

#include "harmonize/app/App.h"
#include "PlaygroundGame.h"
#include "PlaygroundRun.h"

#include "harmonize/Settings.h"
#include "quern/entity/World.h"
#include "support/harmonize/DemoLevelContent.h"
#include "support/harmonize/SmallWindowSettings.h"
#include "support/harmonize/TemporaryUserFolder.h"

#include "ReplayScript.h"
#include "ScriptedKeys.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace harmonize::testing {

class DemoLevelTest : public ::testing::Test {
protected:
    static constexpr quern::i64 kTickCounter = 100'000; // one 10 ms fixed step in counter ticks

    // `level` is the level's file name: "moves" for levels/moves, whose
    // script is content/replays/moves.inputs.
    explicit DemoLevelTest(std::string level) : m_level(std::move(level)) {}

    void SetUp() override
    {
        useSmallDummyWindow();
        Settings::Threading.enabled = false;
        const std::filesystem::path root = std::filesystem::path(QUERN_TEST_BINARY_DIR) / m_level;
        std::string error;
        ASSERT_TRUE(buildDemoLevelContent(content, root, QUERN_CONTENT_DIR, m_level.c_str(), error)) << error;
        ASSERT_TRUE(quern::replaybuild::buildReplayFile(scriptPath(), (userFolder.path() / replayName()).string(), error))
            << error;
    }
    void TearDown() override
    {
        unsetenv("SDL_VIDEODRIVER");
        Settings::resetToDefaults();
    }

    std::string scriptPath() const { return std::string(QUERN_CONTENT_DIR) + "/replays/" + m_level + ".inputs"; }
    std::string replayName() const { return m_level + ".replay"; }

    // The App, started with its level loaded.
    std::unique_ptr<App> startApp()
    {
        auto app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        time = 0;
        runUntilLevelLoads(*app, time, kTickCounter, Settings::Threading.enabled);
        return app;
    }
    // One frame of one fixed step, with the frame's app events.
    void step(App& app)
    {
        time += kTickCounter;
        app.runFrame(time);
        dropAppEvents(app);
    }
    static quern::entity::World& levelWorld(App& app) { return app.worldSwapper().getWorld(app.currentLevelWorld()); }
    static quern::entity::World& world(App& app) { return levelWorld(app); }
    // The entity's record of a type it is known to have, in the level's world.
    template <class Record> static Record& at(App& app, quern::entity::EntityHandle entity)
    {
        return *static_cast<Record*>(world(app).getComponent(entity.index(), Record::kType));
    }
    // The replays a run recorded, but the one the test built.
    std::vector<std::filesystem::path> savedReplays() const
    {
        return recordedReplays(userFolder.path(), replayName().c_str());
    }

    // A run of `ticks` driven by the script's keys through SDL and recorded
    // with checksums, then that recording played into a freshly started
    // level: `read` samples every tick of both, `warnings` gets what the
    // playback logged. `start` starts the level (with whatever the test
    // resets first).
    template <class Sample, class Start, class Read>
    void recordAndPlayBack(quern::i32 ticks, Start&& start, Read&& read, std::vector<Sample>& live,
        std::vector<Sample>& replayed, std::string& warnings)
    {
        Settings::Replay.verify = true;
        Settings::Replay.persistent = true;
        {
            auto app = start();
            ScriptedKeys keys(scriptPath());
            for (quern::i32 tick = 0; tick < ticks; ++tick) {
                keys.pushNextTick();
                live.push_back(read(*app, tick));
            }
            app->shutdown();
        }
        const std::vector<std::filesystem::path> saved = savedReplays();
        ASSERT_EQ(saved.size(), 1u);
        Settings::Replay.persistent = false;
        m_recorded = std::filesystem::relative(saved[0], userFolder.path()).string();
        Settings::Replay.file = m_recorded.c_str();
        quern::testing::LogCapture log(2);
        {
            auto app = start();
            for (quern::i32 tick = 0; tick < ticks; ++tick)
                replayed.push_back(read(*app, tick));
            app->shutdown();
        }
        warnings = log.text();
    }

    TemporaryUserFolder userFolder;
    GameAssetHandlers handlers;
    quern::testing::BuiltContent content;
    quern::i64 time = 0;

private:
    std::string m_level;
    std::string m_recorded; // the recording's name while Settings::Replay.file holds it
};

} // namespace harmonize::testing
