#include "quern/settings/CommandLineParser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using quern::i32;

struct Option {
    std::string key;
    std::optional<std::string> value;
    bool operator==(const Option&) const = default;
};

struct Recorder {
    std::vector<Option> options;
    i32 result = 0;
};

i32 record(void* context, const char* key, const char* value)
{
    auto* recorder = static_cast<Recorder*>(context);
    recorder->options.push_back({key, value ? std::optional<std::string>(value) : std::nullopt});
    return recorder->result;
}

TEST(CommandLineParser, SplitsOptionsIntoKeyAndValue)
{
    std::vector<std::string> storage = {"/usr/bin/game", "--workers=4", "--headless", "level1",
                                        "-x=1", "--path=a=b", "--empty="};
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());

    Recorder recorder;
    EXPECT_EQ(quern::settings::parseCommandLine(static_cast<i32>(argv.size()), argv.data(), &record, &recorder), 0);
    const std::vector<Option> expected = {
        {"workers", "4"}, {"headless", std::nullopt}, {"path", "a=b"}, {"empty", ""}};
    EXPECT_EQ(recorder.options, expected);
}

TEST(CommandLineParser, KeyLengthLimit)
{
    const std::string key63(63, 'k');
    const std::string key64(64, 'k');
    Recorder recorder;
    EXPECT_EQ(quern::settings::parseKeyValue((key64 + "=1").c_str(), &record, &recorder), 1);
    EXPECT_TRUE(recorder.options.empty());

    EXPECT_EQ(quern::settings::parseKeyValue((key63 + "=1").c_str(), &record, &recorder), 0);
    ASSERT_EQ(recorder.options.size(), 1u);
    EXPECT_EQ(recorder.options[0], (Option{key63, "1"}));

    // Without '=' the whole text is the key, whatever its length.
    EXPECT_EQ(quern::settings::parseKeyValue(key64.c_str(), &record, &recorder), 0);
    EXPECT_EQ(recorder.options.back(), (Option{key64, std::nullopt}));
}

TEST(CommandLineParser, KeepsGoingAfterErrorsAndReturnsTheLastError)
{
    std::vector<std::string> storage = {"game", "--", "--a=1", "--" + std::string(70, 'x') + "=1", "--b"};
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());

    // Bare "--" gives 1, the model answers 2 for a and b, the long key gives 1.
    Recorder recorder;
    recorder.result = 2;
    EXPECT_EQ(quern::settings::parseCommandLine(static_cast<i32>(argv.size()), argv.data(), &record, &recorder), 2);
    EXPECT_EQ(recorder.options.size(), 2u);

    std::vector<std::string> storage2 = {"--b", "--"};
    std::vector<char*> argv2 = {storage2[0].data(), storage2[1].data()};
    Recorder recorder2;
    recorder2.result = 2;
    EXPECT_EQ(quern::settings::parseCommandLine(2, argv2.data(), &record, &recorder2), 1);
}

TEST(CommandLineParser, ProgramPathIsAnArgumentLikeAnyOther)
{
    std::vector<std::string> storage = {"--first"};
    std::vector<char*> argv = {storage[0].data()};
    Recorder recorder;
    quern::settings::parseCommandLine(1, argv.data(), &record, &recorder);
    ASSERT_EQ(recorder.options.size(), 1u);
    EXPECT_EQ(recorder.options[0].key, "first");
}

} // namespace
