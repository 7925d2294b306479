// A process killed at any moment while it writes savegames leaves the last
// whole savegame behind, never a damaged one.

#include "harmonize/savegame/Savegame.h"

#include "runtime/quern/platform/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace harmonize {
namespace {

TEST(SavegameKillTest, AWriterKilledAtRandomMomentsLeavesAWholeSavegame)
{
    quern::testing::TemporaryDirectory dir;
    const std::string folder = dir.path().string();
    const std::string savegame = dir / kSavegameFileName;
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayMilliseconds(5, 250);

    bool written = false;
    for (int round = 0; round < 14; ++round) {
        std::string program = QUERN_SAVEGAME_WRITER;
        std::string argument = folder;
        char* arguments[] = { program.data(), argument.data(), nullptr };
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments, environ), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMilliseconds(random)));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "round " << round << ": the writer ended";

        if (!std::filesystem::exists(savegame)) {
            EXPECT_FALSE(written) << "round " << round << ": the savegame went away";
            continue;
        }
        written = true;
        std::ifstream in(savegame, std::ios::binary);
        const std::vector<u8> image { std::istreambuf_iterator<char>(in), {} };
        ASSERT_EQ(image.size(), kSavegameImageSize) << "round " << round;
        ProgressRecord record {};
        EXPECT_TRUE(Savegame::unscrambleImage(record, image.data(), image.size())) << "round " << round;
        EXPECT_TRUE(record.lastLevelId >= 11 && record.lastLevelId <= 13) << "round " << round;
    }
    EXPECT_TRUE(written);
}

} // namespace
} // namespace harmonize
