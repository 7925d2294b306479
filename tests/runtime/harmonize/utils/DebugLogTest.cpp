#include "harmonize/utils/DebugLog.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace harmonize {
namespace {

TEST(DebugLogTest, FormatsLogsAndTruncates)
{
    quern::testing::LogCapture log(3);
    debugLog("speed %d of %s", 42, "ten");
    EXPECT_EQ(debugLine(), "speed 42 of ten");
    EXPECT_TRUE(log.contains("speed 42 of ten"));

    const std::string longText(400, 'x');
    debugLog("%s", longText.c_str());
    EXPECT_EQ(debugLine(), std::string(255, 'x'));
    clearDebugLine();
    EXPECT_EQ(debugLine(), "");
}

TEST(DebugLogTest, ConcurrentWritersNeverMixTheirLines)
{
    std::vector<std::thread> writers;
    for (char letter : { 'a', 'b', 'c', 'd' })
        writers.emplace_back([letter] {
            const std::string text(200, letter);
            for (int i = 0; i < 300; ++i)
                debugLog("%s", text.c_str());
        });
    for (int i = 0; i < 2000; ++i) {
        const std::string line = debugLine();
        if (line.empty())
            continue;
        ASSERT_EQ(line.size(), 200u);
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << line;
    }
    for (std::thread& writer : writers)
        writer.join();
}

} // namespace
} // namespace harmonize
