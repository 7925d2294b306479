#include "quern/profile/Profiler.h"
#include "support/FileContents.h"

#include "quern/platform/Clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace quern::profile {
namespace {

// Time moves only when a test says so: 10,000,000 ticks a second.
class ProfilerTest : public ::testing::Test {
protected:
    void advance(f64 seconds) { m_counter.advanceSeconds(seconds); }

    platform::ManualCounterSource m_counter { 1'000'000 };
    platform::ScopedCounterSource m_scope { m_counter };
    Profiler m_profiler { ProfilerClock::performanceCounter() };
};

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::random_device random;
        do
            m_path = std::filesystem::temp_directory_path() / ("quern-profile-" + std::to_string(random()));
        while (!std::filesystem::create_directory(m_path));
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const char* name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

using quern::testing::readFile;

const char* const kPhysics = "Physics";
const char* const kRender = "Render";
const char* const kCulling = "Culling";
const char* const kLoading = "Loading";

TEST_F(ProfilerTest, SamplesFormATreeMatchedByNameAddress)
{
    const ProfileNode* root = m_profiler.root();
    EXPECT_STREQ(root->name, "Root");
    EXPECT_EQ(root->depth, 0u);
    EXPECT_EQ(m_profiler.current(), root);

    m_profiler.beginSample(kRender);
    m_profiler.beginSample(kCulling);
    const ProfileNode* culling = m_profiler.current();
    m_profiler.endSample();
    m_profiler.beginSample(kCulling); // same address: the same node again
    EXPECT_EQ(m_profiler.current(), culling);
    EXPECT_EQ(culling->calls, 2u);
    EXPECT_EQ(culling->depth, 2u);
    EXPECT_EQ(culling->parent->name, kRender);
    m_profiler.endSample();
    m_profiler.endSample();
    EXPECT_EQ(m_profiler.current(), root);

    // Equal text in two different strings: two sibling nodes.
    char first[] = "Audio";
    char second[] = "Audio";
    m_profiler.beginSample(first);
    m_profiler.endSample();
    m_profiler.beginSample(second);
    m_profiler.endSample();
    ASSERT_EQ(m_profiler.childCount(root), 3u);
    EXPECT_EQ(m_profiler.childAt(root, 1)->name, first);
    EXPECT_EQ(m_profiler.childAt(root, 2)->name, second);
}

TEST_F(ProfilerTest, EndWithoutAnOpenSampleDoesNothing)
{
    m_profiler.endSample();
    EXPECT_EQ(m_profiler.current(), m_profiler.root());
    m_profiler.beginSample(kPhysics);
    advance(0.001);
    m_profiler.endSample();
    m_profiler.endSample();
    EXPECT_EQ(m_profiler.current(), m_profiler.root());
    EXPECT_EQ(m_profiler.childCount(m_profiler.root()), 1u);
    EXPECT_EQ(m_profiler.childAt(m_profiler.root(), 0)->statistics[kTotals].calls, 1u);
}

TEST_F(ProfilerTest, DisabledProfilerOpensNothing)
{
    m_profiler.setEnabled(false);
    m_profiler.nextFrame();
    m_profiler.beginSample(kPhysics);
    EXPECT_EQ(m_profiler.current(), m_profiler.root());
    EXPECT_EQ(m_profiler.childCount(m_profiler.root()), 0u);
}

// Three frames of 1,000 ticks: Physics takes 300, 500, then is not called.
TEST_F(ProfilerTest, FramesFoldIntoTotalsAveragesAndExtremes)
{
    struct Frame {
        u64 before;
        u64 physics; // 0: not called
        u64 after;
    } frames[] = { { 100, 300, 600 }, { 500, 500, 0 }, { 1000, 0, 0 } };
    for (const Frame& frame : frames) {
        m_profiler.nextFrame();
        m_counter.advance(frame.before);
        if (frame.physics) {
            m_profiler.beginSample(kPhysics);
            m_counter.advance(frame.physics);
            m_profiler.endSample();
        }
        m_counter.advance(frame.after);
        m_profiler.endSample();
    }

    const ProfileNode* mainLoop = Profiler::findChild(m_profiler.root(), Profiler::kMainLoopName);
    ASSERT_NE(mainLoop, nullptr);
    const ProfileNode* physics = Profiler::findChild(mainLoop, kPhysics);
    ASSERT_NE(physics, nullptr);

    EXPECT_EQ(mainLoop->samples, 3u);
    EXPECT_EQ(mainLoop->statistics[kTotals].selfTicks, 2200u);
    EXPECT_EQ(mainLoop->statistics[kTotals].childTicks, 800u);
    EXPECT_EQ(mainLoop->statistics[kTotals].calls, 3u);
    EXPECT_NEAR(mainLoop->statistics[kTotals].fraction, (0.7 + 0.5 + 1.0) / 3, 1e-6);
    EXPECT_FLOAT_EQ(mainLoop->statistics[kMinimum].fraction, 0.5f);
    EXPECT_FLOAT_EQ(mainLoop->statistics[kMaximum].fraction, 1.0f);

    EXPECT_EQ(physics->samples, 3u);
    EXPECT_EQ(physics->statistics[kTotals].selfTicks, 800u);
    EXPECT_EQ(physics->statistics[kTotals].calls, 2u);
    EXPECT_NEAR(physics->statistics[kTotals].fraction, (0.3 + 0.5 + 0.0) / 3, 1e-6);
    EXPECT_FLOAT_EQ(physics->statistics[kMinimum].fraction, 0.0f);
    EXPECT_FLOAT_EQ(physics->statistics[kMaximum].fraction, 0.5f);

    // The last frame's own numbers, and the frame counters start over.
    EXPECT_EQ(mainLoop->statistics[kLastFrame].selfTicks, 1000u);
    EXPECT_EQ(mainLoop->statistics[kLastFrame].calls, 1u);
    EXPECT_FLOAT_EQ(mainLoop->statistics[kLastFrame].fraction, 1.0f);
    EXPECT_EQ(mainLoop->ticks, 0u);
    EXPECT_EQ(mainLoop->calls, 0u);
    EXPECT_EQ(physics->ticks, 0u);

    // The next frame start clears the last-frame record.
    m_profiler.nextFrame();
    EXPECT_EQ(mainLoop->statistics[kLastFrame].selfTicks, 0u);
    EXPECT_EQ(physics->statistics[kLastFrame].calls, 0u);
    EXPECT_EQ(m_profiler.current(), mainLoop);
}

TEST_F(ProfilerTest, FrameOfNoMeasurableTimeGivesZeroShares)
{
    m_profiler.nextFrame();
    m_profiler.beginSample(kPhysics);
    m_profiler.endSample();
    m_profiler.endSample();
    const ProfileNode* mainLoop = Profiler::findChild(m_profiler.root(), Profiler::kMainLoopName);
    const ProfileNode* physics = Profiler::findChild(mainLoop, kPhysics);
    for (const ProfileNode* node : { mainLoop, physics }) {
        EXPECT_EQ(node->statistics[kTotals].fraction, 0.0f) << node->name;
        EXPECT_FALSE(std::isnan(node->statistics[kMaximum].fraction)) << node->name;
    }
}

TEST_F(ProfilerTest, ManySamplesRefillTheNodePoolFromTheArena)
{
    static char names[250][8];
    const i32 before = m_profiler.arena().allocationCount();
    m_profiler.nextFrame();
    for (int i = 0; i < 250; ++i) {
        m_profiler.beginSample(names[i]);
        m_counter.advance(1);
        m_profiler.endSample();
    }
    m_profiler.endSample();
    const ProfileNode* mainLoop = Profiler::findChild(m_profiler.root(), Profiler::kMainLoopName);
    ASSERT_EQ(m_profiler.childCount(mainLoop), 250u);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(m_profiler.childAt(mainLoop, static_cast<u64>(i))->name, names[i]);
        EXPECT_EQ(m_profiler.childAt(mainLoop, static_cast<u64>(i))->statistics[kTotals].calls, 1u);
    }
    EXPECT_GT(m_profiler.arena().allocationCount(), before);
}

// Four frames of 20 ms, then a top-level sample left open when the report is
// written: it has no folded calls and shows dashes.
TEST_F(ProfilerTest, ReportListsTheTreeAndTheFrameAndOverallTables)
{
    for (int frame = 0; frame < 4; ++frame) {
        m_profiler.nextFrame();
        advance(0.004);
        m_profiler.beginSample(kPhysics);
        advance(0.006);
        m_profiler.endSample();
        m_profiler.beginSample(kRender);
        advance(0.002);
        m_profiler.beginSample(kCulling);
        advance(0.002);
        m_profiler.endSample();
        advance(0.006);
        m_profiler.endSample();
        m_profiler.endSample();
    }
    m_profiler.beginSample(kLoading);

    TemporaryFolder folder;
    const std::string path = folder.file("profile.txt");
    m_profiler.outputStatisticsToFile(path.c_str());
    EXPECT_EQ(readFile(path),
        "  Time   Average  Minimum  Maximum  Calls  Profile Name\n"
        "--------------------------------------------------------\n"
        "  0.02s   20.00%   20.00%   20.00%      4  Main loop\n"
        "  0.02s   30.00%   30.00%   30.00%      4   Physics\n"
        "  0.03s   40.00%   40.00%   40.00%      4   Render\n"
        "  0.01s   10.00%   10.00%   10.00%      4    Culling\n"
        "  0.00s  -------------------------      0  Loading\n"
        "Main loop statistics for 4 frames:\n"
        "  8.00ms    1 Render\n"
        "  6.00ms    1 Physics\n"
        "  4.00ms    1 Main loop\n"
        "  2.00ms    1 Culling\n"
        "Overall statistics:\n"
        "  0.03s    4 Render\n"
        "  0.02s    4 Physics\n"
        "  0.02s    4 Main loop\n");
}

TEST_F(ProfilerTest, ReportWithoutFramesHasOnlyTheHeaderAndOverallTitle)
{
    TemporaryFolder folder;
    const std::string path = folder.file("profile.txt");
    m_profiler.outputStatisticsToFile(path.c_str());
    EXPECT_EQ(readFile(path),
        "  Time   Average  Minimum  Maximum  Calls  Profile Name\n"
        "--------------------------------------------------------\n"
        "Overall statistics:\n");
}

TEST(ProfilerDeathTest, UnwritableReportIsFatal)
{
    TemporaryFolder folder;
    const std::string path = folder.file("missing/profile.txt");
    EXPECT_DEATH(
        {
            Profiler profiler(ProfilerClock::performanceCounter());
            profiler.outputStatisticsToFile(path.c_str());
        },
        "Error writing to file");
}

TEST(ProfilerDeathTest, SampleWithoutANameIsFatal)
{
    Profiler profiler(ProfilerClock::performanceCounter());
    EXPECT_DEATH(profiler.beginSample(nullptr), "Profiler sample without a name");
}

TEST(ProfilerDeathTest, ReportThatCannotBeCompletedIsFatal)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    EXPECT_DEATH(
        {
            Profiler profiler(ProfilerClock::performanceCounter());
            profiler.outputStatisticsToFile("/dev/full");
        },
        "Error writing to file");
}

// The game's clock: the time-stamp counter converted with the calibrated
// processor rate must agree with the monotonic clock.
TEST(ProfilerClock, TimeStampCounterConvertsToRealSeconds)
{
    const ProfilerClock clock = ProfilerClock::timeStampCounter();
    ASSERT_GT(clock.ticksPerSecond, 0.0);
    const u64 monotonicStart = platform::readMonotonicCounter();
    const u64 ticksStart = clock.read();
    while (platform::readMonotonicCounter() - monotonicStart < platform::secondsToTicks(0.05)) { }
    const f64 measured = clock.toSeconds(clock.read() - ticksStart);
    const f64 reference = platform::ticksToSeconds(platform::readMonotonicCounter() - monotonicStart);
    EXPECT_GT(measured, reference * 0.5);
    EXPECT_LT(measured, reference * 2.0);
}

TEST(ProfilerClock, PerformanceCounterFollowsTheInstalledSource)
{
    platform::ManualCounterSource counter(42);
    platform::ScopedCounterSource scope(counter);
    const ProfilerClock clock = ProfilerClock::performanceCounter();
    EXPECT_EQ(clock.read(), 42u);
    EXPECT_DOUBLE_EQ(clock.toSeconds(25'000'000), 2.5);
}

} // namespace
} // namespace quern::profile
