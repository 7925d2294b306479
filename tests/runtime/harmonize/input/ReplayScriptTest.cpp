#include "ReplayScript.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/input/InputReplay.h"
#include "quern/io/HomeFileSystem.h"
#include "runtime/quern/platform/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using quern::input::InputReplay;
using quern::replaybuild::readReplayScript;

// What the game's Game context shows in one tick.
struct Tick {
    bool left = false, right = false, up = false, down = false, jump = false;
    i32 harmonize = 0;
    f32 stickX = 0.0f, stickY = 0.0f;

    bool operator==(const Tick&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Tick& t)
{
    return out << "{" << t.left << t.right << t.up << t.down << t.jump << " harmonize " << t.harmonize << " stick "
               << t.stickX << " " << t.stickY << "}";
}

// Plays the replay into the game's own Game context, tick by tick, as the
// input system does: the frame's action counts are cleared, then the replay
// writes its changes.
class ReplayScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
        switcher.bindContexts();
    }
    void TearDown() override { Settings::resetToDefaults(); }

    std::vector<Tick> play(const InputReplay& replay, i32 ticks)
    {
        quern::input::InputContext& game = switcher.context(kInputStateGame);
        quern::input::InputArrays arrays = game.inputArrays();
        quern::input::InputReplayPlayer player;
        std::vector<Tick> shown;
        for (i32 i = 0; i < ticks; ++i) {
            game.clearFrameState();
            player.playFrame(replay, arrays);
            const quern::input::StickVector stick = game.getStickVector();
            shown.push_back({ game.isStateHeld(kHeldLeft), game.isStateHeld(kHeldRight), game.isStateHeld(kHeldUp),
                game.isStateHeld(kHeldDown), game.isStateHeld(kHeldJump), game.getActionCount(kActionHarmonize),
                stick.x, stick.y });
        }
        return shown;
    }

    InputSwitcher switcher;
};

TEST_F(ReplayScriptTest, EachLineHoldsItsInputForItsTicksAndTheEndReleasesEverything)
{
    const char* script = "# warm-up\n"
                         "2\n"
                         "3 right   # walk\n"
                         "1 right jump harmonize\n"
                         "2 left up down stick -0.6 0.5\r\n"
                         "1 harmonize\n"
                         "1 jump\n";
    InputReplay replay;
    std::string error;
    ASSERT_TRUE(readReplayScript(script, replay, error)) << error;
    const Tick none {};
    const Tick right { .right = true };
    const Tick jumpRight { .right = true, .jump = true, .harmonize = 1 };
    const Tick pulled { .left = true, .up = true, .down = true, .stickX = -19660.0f / 32768.0f, .stickY = 16384.0f / 32768.0f };
    const Tick pressed { .harmonize = 1 };
    const Tick jump { .jump = true };
    const std::vector<Tick> expected
        = { none, none, right, right, right, jumpRight, pulled, pulled, pressed, jump, none, none, none };
    EXPECT_EQ(play(replay, static_cast<i32>(expected.size())), expected);
}

// A stretch costs one record however long it lasts, and the ticks after it
// still count: the release lands on the first tick after the script.
TEST_F(ReplayScriptTest, LongStretchesKeepTheirTickNumbers)
{
    InputReplay replay;
    std::string error;
    ASSERT_TRUE(readReplayScript("1000000 right\n16777216\n5 jump\n", replay, error)) << error;
    ASSERT_EQ(replay.frameCount(), 4u);
    EXPECT_EQ(replay.frameAt(0).frame, 0);
    EXPECT_EQ(replay.frameAt(1).frame, 1000000);
    EXPECT_EQ(replay.frameAt(2).frame, 1000000 + 16777216);
    EXPECT_EQ(replay.frameAt(3).frame, 1000000 + 16777216 + 5);
}

TEST_F(ReplayScriptTest, AnEmptyScriptIsAnEmptyReplay)
{
    InputReplay replay;
    std::string error;
    ASSERT_TRUE(readReplayScript("# nothing\n\n", replay, error)) << error;
    EXPECT_EQ(replay.frameCount(), 0u);
}

TEST_F(ReplayScriptTest, RefusesBadScriptsNamingTheLine)
{
    struct Case {
        const char* script;
        const char* message;
    };
    const Case cases[] = {
        { "right\n", "line 1: a line starts with its tick count" },
        { "2\n0 jump\n", "line 2: a line holds 1 to 16777216 ticks, not 0" },
        { "16777217\n", "line 1: a line holds 1 to 16777216 ticks" },
        { "99999999999999999999\n", "line 1: a line starts with its tick count" },
        { "-3 left\n", "line 1: a line starts with its tick count" },
        { "1.5\n", "line 1: a line starts with its tick count" },
        { "3 walk\n", "line 1: unknown word \"walk\"" },
        { "3 Left\n", "line 1: unknown word \"Left\"" },
        { "1 jump jump\n", "line 1: jump is named twice" },
        { "1 harmonize harmonize\n", "line 1: harmonize is named twice" },
        { "1 stick 0 0 stick 1 1\n", "line 1: stick is named twice" },
        { "1 stick 0.5\n", "line 1: stick takes two numbers from -1 to 1" },
        { "1 stick 0 1.01\n", "line 1: stick takes two numbers from -1 to 1, not \"1.01\"" },
        { "1 stick nan 0\n", "not \"nan\"" },
        { "1 stick 0x 0\n", "not \"0x\"" },
        { "# a\n\n1\n1 stick inf 0\n", "line 4: stick takes two numbers" },
    };
    for (const Case& c : cases) {
        InputReplay replay;
        std::string error;
        EXPECT_FALSE(readReplayScript(c.script, replay, error)) << c.script;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.script << "\n  gave: " << error;
    }
    // 128 stretches of the longest length run past the last frame number.
    std::string tooLong;
    for (int i = 0; i < 128; ++i)
        tooLong += "16777216\n";
    InputReplay replay;
    std::string error;
    EXPECT_FALSE(readReplayScript(tooLong, replay, error));
    EXPECT_NE(error.find("line 128: the script runs longer than"), std::string::npos) << error;
}

// The file the tool writes is what the game's replay loader reads.
TEST_F(ReplayScriptTest, TheWrittenFileLoadsAsTheGameLoadsReplays)
{
    quern::testing::TemporaryDirectory folder;
    std::ofstream(folder / "moves.inputs") << "4 right\n2 jump harmonize\n";
    std::string error;
    ASSERT_TRUE(quern::replaybuild::buildReplayFile(folder / "moves.inputs", folder / "out/moves.replay", error))
        << error;
    quern::io::HomeFileSystem files;
    files.setDirectory(folder.path().c_str());
    InputReplay loaded;
    quern::entity::loadInputRecording(loaded, "out/moves.replay", files);
    InputReplay direct;
    ASSERT_TRUE(readReplayScript("4 right\n2 jump harmonize\n", direct, error));
    ASSERT_EQ(loaded.frameCount(), direct.frameCount());
    ASSERT_EQ(loaded.values.count(), direct.values.count());
    EXPECT_EQ(play(loaded, 8), play(direct, 8));

    EXPECT_FALSE(quern::replaybuild::buildReplayFile(folder / "missing.inputs", folder / "x.replay", error));
    EXPECT_NE(error.find("missing.inputs: cannot be read"), std::string::npos) << error;
    std::ofstream(folder / "bad.inputs") << "1\n1 fly\n";
    EXPECT_FALSE(quern::replaybuild::buildReplayFile(folder / "bad.inputs", folder / "x.replay", error));
    EXPECT_NE(error.find("bad.inputs: line 2: unknown word \"fly\""), std::string::npos) << error;
}

} // namespace
} // namespace harmonize
