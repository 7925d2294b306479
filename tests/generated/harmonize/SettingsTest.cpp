#include "harmonize/Settings.h"
#include "support/FileContents.h"

#include "quern/io/HomeFileSystem.h"
#include "runtime/quern/platform/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace harmonize {
namespace {

using namespace Settings;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetToDefaults();
        m_files.setDirectory(m_directory.path().c_str());
        m_files.setQuiet(true);
    }
    void TearDown() override { resetToDefaults(); }

    void writeIni(const std::string& text) { std::ofstream(m_directory / kFileName, std::ios::binary) << text; }
    std::string readIni() const
    {
        std::ifstream file(m_directory / kFileName, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    quern::testing::TemporaryDirectory m_directory;
    quern::io::HomeFileSystem m_files;
};

using quern::testing::readFile;

TEST(SettingsHelp, OverviewMatchesTheWrittenReference)
{
    const std::string expected = readFile(QUERN_TEST_SOURCE_DIR "/help.txt");
    ASSERT_EQ(expected.size(), 3379u);
    EXPECT_EQ(std::string(kSettingsHelpText, kSettingsHelpTextLength), expected);
}

TEST(SettingsHelpDeathTest, HelpInAnyCaseExitsWithZero)
{
    for (const char* option : { "help", "HELP", "Help" })
        EXPECT_EXIT(setFromCommandLine(option, nullptr), ::testing::ExitedWithCode(0), "") << option;
    EXPECT_EXIT(setFromCommandLine("help", "1"), ::testing::ExitedWithCode(0), "");
}

TEST_F(SettingsTest, IniSectionsAndKeysIgnoreCaseAndPickTheirSection)
{
    writeIni("[development]\nENABLED = Yes\n[Steam]\nenabled = 0\n[RENDERER]\nmaxframerate=144\n");
    EXPECT_TRUE(load(m_files));
    EXPECT_TRUE(Development.enabled);
    EXPECT_FALSE(Steam.enabled);
    EXPECT_TRUE(Gog.enabled);
    EXPECT_EQ(Renderer.maxFrameRate, 144);
}

TEST_F(SettingsTest, BadEntriesFailTheLoadButEveryOtherEntryApplies)
{
    struct Case {
        const char* text;
        i32 result;
    };
    const Case cases[] = {
        { "[Development]\nnoSuchKey = 1\n", 1 },
        { "[NoSection]\nenabled = 1\n", 1 },
        { "[Development]\nlog = maybe\n", 2 },
        { "[Development]\nlog = \n", 2 },
        { "[Development]\nlevelHeapSize\n", 1 },
    };
    for (const Case& c : cases) {
        resetToDefaults();
        writeIni(std::string(c.text) + "[Development]\nlog = 0\ngodMode = on\n[Test]\ntestStart = 4\n");
        EXPECT_FALSE(load(m_files)) << c.text;
        EXPECT_TRUE(Development.godMode) << c.text;
        EXPECT_EQ(Settings::Test.testStart, 4) << c.text;
        EXPECT_EQ(Development.levelHeapSize, 128) << c.text;
    }
    EXPECT_EQ(setFromIni("Development", "log", "maybe"), 2);
    EXPECT_EQ(setFromIni("Development", "nope", "1"), 1);
}

TEST_F(SettingsTest, MissingOrEmptyFileKeepsTheDefaults)
{
    EXPECT_TRUE(load(m_files));
    writeIni("");
    EXPECT_TRUE(load(m_files));
    EXPECT_EQ(Renderer.maxFrameRate, 300);
}

TEST_F(SettingsTest, NumbersTakeTheirLeadingDigits)
{
    struct IntCase {
        const char* text;
        i32 value;
    };
    const IntCase ints[]
        = { { "12abc", 12 }, { "abc", 0 }, { "  -7", -7 }, { "+15", 15 }, { "", 0 }, { "99999999999", INT_MAX },
              { "-99999999999", INT_MIN }, { "2147483647", INT_MAX }, { "-2147483648", INT_MIN } };
    for (const IntCase& c : ints) {
        ASSERT_EQ(setFromIni("Renderer", "maxFrameRate", c.text), 0);
        EXPECT_EQ(Renderer.maxFrameRate, c.value) << c.text;
    }
    struct FloatCase {
        const char* text;
        f32 value;
    };
    const FloatCase floats[] = { { "1.5x", 1.5f }, { "abc", 0.0f }, { " -0.25", -0.25f }, { "+2e3", 2000.0f },
        { ".5", 0.5f }, { "1e99", HUGE_VALF } };
    for (const FloatCase& c : floats) {
        ASSERT_EQ(setFromCommandLine("timeScale", c.text), 0);
        EXPECT_EQ(Development.timeScale, c.value) << c.text;
    }
}

TEST_F(SettingsTest, CommandLineOptionsUseTheirOwnNames)
{
    struct Case {
        const char* option;
        const char* value;
        i32 result;
    };
    const Case cases[] = {
        { "enabled", "1", 2 }, // shared keys take their section's prefix
        { "useCloud", "0", 2 },
        { "backEnd", "null", 2 },
        { "development-enabled", nullptr, 0 },
        { "GOG-USECLOUD", "off", 0 },
        { "graphics-backEnd", "null", 0 },
        { "test", "maybe", 1 }, // a bad boolean word: 1 here, 2 in the file
        { "noSuchOption", "1", 2 },
        { "levelHeapSize", nullptr, 2 }, // a number without '=' is refused, never read
        { "timeScale", nullptr, 2 },
        { "startLevel", nullptr, 2 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(setFromCommandLine(c.option, c.value), c.result) << c.option;
    EXPECT_TRUE(Development.enabled);
    EXPECT_FALSE(Gog.useCloud);
    EXPECT_TRUE(Steam.useCloud);
    EXPECT_STREQ(Graphics.backEnd, "null");
    EXPECT_STREQ(Audio.backEnd, "OpenAL");
    EXPECT_FALSE(Settings::Test.test);
    EXPECT_EQ(Development.levelHeapSize, 128);
    EXPECT_STREQ(Development.startLevel, "");
}

TEST_F(SettingsTest, SettingAStringToItsCurrentTextKeepsTheSameCopy)
{
    ASSERT_EQ(setFromCommandLine("startLevel", "level2"), 0);
    const char* first = Development.startLevel;
    ASSERT_EQ(setFromIni("Development", "startLevel", "level2"), 0);
    EXPECT_EQ(Development.startLevel, first);
    ASSERT_EQ(setFromIni("Development", "startLevel", "level3"), 0);
    EXPECT_STREQ(Development.startLevel, "level3");
    EXPECT_STREQ(first, "level2"); // a replaced copy stays readable until free
}

TEST_F(SettingsTest, DefaultsSaveOnlyTheSectionHeaders)
{
    ASSERT_TRUE(save(m_files));
    std::string expected;
    for (const SettingsSection& section : kSettingsSections)
        expected += std::string("\n[") + section.name + "]\n";
    EXPECT_EQ(readIni(), expected);
}

TEST_F(SettingsTest, SaveWritesChangedValuesThatReadBackUnchanged)
{
    Development.quickSaveFile = "other.save";
    Development.levelHeapSize = -3;
    Development.retail = false;
    Graphics.openGLVersion = "3.3";
    Graphics.highDPI = true;
    Graphics.vbo = false;
    Renderer.maxParticleSize = 0.02f;
    Audio.volumePower = 1.5f;
    Graphics.brightness = 1e6f;
    Physics.fixedTimeStep = NAN;
    ASSERT_TRUE(save(m_files));
    const std::string text = readIni();
    for (const char* line :
        { "QuickSaveFile = other.save\n", "LevelHeapSize = -3\n", "Retail = 0\n", "OpenGLVersion = 3.3\n",
            "HighDPI = 1\n", "Vbo = 0\n", "MaxParticleSize = 0.02\n", "VolumePower = 1.5\n", "Brightness = 1e+06\n" })
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("FixedTimeStep"), std::string::npos);

    resetToDefaults();
    ASSERT_TRUE(load(m_files));
    EXPECT_STREQ(Development.quickSaveFile, "other.save");
    EXPECT_EQ(Development.levelHeapSize, -3);
    EXPECT_FALSE(Development.retail);
    EXPECT_STREQ(Graphics.openGLVersion, "3.3");
    EXPECT_TRUE(Graphics.highDPI);
    EXPECT_FALSE(Graphics.vbo);
    EXPECT_EQ(Renderer.maxParticleSize, 0.02f);
}

TEST_F(SettingsTest, CommandLineOnlyValuesAreNeverSaved)
{
    writeIni("[Development]\nlevelHeapSize = 64\n[Graphics]\nfullscreen = 0\n");
    const char* arguments[] = { "--levelHeapSize=256", "--test=1", "--simulateCrash", "--vsync=0", "--fullscreen=1" };
    for (const char* argument : arguments) {
        const std::string text = argument + 2;
        const size_t equals = text.find('=');
        const std::string key = text.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
        ASSERT_EQ(setFromCommandLine(key.c_str(), equals == std::string::npos ? nullptr : value.c_str()), 0);
    }
    ASSERT_TRUE(load(m_files));
    for (const char* argument : { "levelHeapSize", "fullscreen" }) // the second pass overrides the file again
        setFromCommandLine(argument, std::string(argument) == "fullscreen" ? "1" : "256");
    EXPECT_EQ(Development.levelHeapSize, 256);
    EXPECT_TRUE(Settings::Test.test);

    Graphics.vsync = true; // a menu changed the key after start-up: that is saved
    ASSERT_TRUE(save(m_files));
    const std::string text = readIni();
    EXPECT_NE(text.find("LevelHeapSize = 64\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Fullscreen = 0\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Test = "), std::string::npos) << text;
    EXPECT_EQ(text.find("SimulateCrash"), std::string::npos) << text;
    EXPECT_EQ(text.find("Vsync"), std::string::npos) << text; // back at its default

    Graphics.vsync = false;
    Development.levelHeapSize = 100;
    ASSERT_TRUE(save(m_files));
    EXPECT_NE(readIni().find("LevelHeapSize = 100\n"), std::string::npos);
    EXPECT_NE(readIni().find("Vsync = 0\n"), std::string::npos);
}

// A locale whose decimal mark is a comma, made for the test; empty when the
// system cannot make one.
std::string commaDecimalLocale()
{
    const std::string folder = QUERN_TEST_BINARY_DIR "/locales";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) > 1) // 1: made, with warnings
        return {};
    ::setenv("LOCPATH", folder.c_str(), 1);
    return "de_DE.UTF-8";
}

TEST_F(SettingsTest, NumbersReadAndWriteTheSameWhateverTheLocale)
{
    const std::string locale = commaDecimalLocale();
    if (locale.empty() || !std::setlocale(LC_ALL, locale.c_str()))
        GTEST_SKIP() << "no locale with a decimal comma";
    char formatted[16];
    std::snprintf(formatted, sizeof formatted, "%g", 1.5);
    EXPECT_STREQ(formatted, "1,5"); // the locale is in force

    writeIni("[Audio]\nvolumePower = 2.75\n[Renderer]\nmaxParticleSize = 1e3\n");
    EXPECT_TRUE(load(m_files));
    EXPECT_EQ(Audio.volumePower, 2.75f);
    EXPECT_EQ(Renderer.maxParticleSize, 1000.0f);
    Audio.globalVolume = 12.5f;
    ASSERT_TRUE(save(m_files));
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(readIni().find("VolumePower = 2.75\n"), std::string::npos) << readIni();
    EXPECT_NE(readIni().find("GlobalVolume = 12.5\n"), std::string::npos) << readIni();
}

class RecordingVisitor : public SettingsVisitor {
public:
    void visitCategory(i32 index, const char* name) override { entries.push_back(std::to_string(index) + name); }
    void visitString(const char* key, const char* text) override { entries.push_back(std::string(key) + "=" + text); }
    void visitBool(const char* key, bool* value) override
    {
        entries.push_back(std::string(key) + (*value ? ":on" : ":off"));
        *value = !*value;
    }
    void visitFloat(const char* key, f32* value) override
    {
        entries.push_back(std::string(key) + "~");
        *value = 2.5f;
    }
    void visitInt(const char* key, i32* value) override
    {
        entries.push_back(std::string(key) + "#");
        *value = 7;
    }
    std::vector<std::string> entries;
};

TEST_F(SettingsTest, VisitorSeesKeysInTableOrderAndWritesThroughTheAddresses)
{
    RecordingVisitor visitor;
    visitSection(static_cast<i32>(SettingsCategory::Menu), visitor);
    visitSection(static_cast<i32>(SettingsCategory::Profiler), visitor);
    visitSection(static_cast<i32>(SettingsCategory::Physics), visitor);
    const std::vector<std::string> expected = { "showPCOptions:on", "showProfile:on", "switchProfile:off",
        "outputFile=profile.txt", "enabled:off", "fixedTimeStep~", "maxSubSteps#", "enabled:on" };
    EXPECT_EQ(visitor.entries, expected);
    EXPECT_FALSE(Menu.showPCOptions);
    EXPECT_TRUE(Profiler.enabled);
    EXPECT_EQ(Physics.fixedTimeStep, 2.5f);
    EXPECT_EQ(Physics.maxSubSteps, 7);

    RecordingVisitor sections;
    setSectionVisitor(&sections);
    visitSections();
    setSectionVisitor(nullptr);
    ASSERT_EQ(sections.entries.size(), 17u);
    EXPECT_EQ(sections.entries.front(), "0Development");
    EXPECT_EQ(sections.entries.back(), "16Input");
}

TEST(SettingsDeathTest, VisitingAnUnknownCategoryIsFatal)
{
    RecordingVisitor visitor;
    EXPECT_DEATH(visitSection(17, visitor), "Invalid settings category");
    EXPECT_DEATH(visitSection(-1, visitor), "Invalid settings category");
}

TEST_F(SettingsTest, AnimationAndMenuKeysFollowTheBooleanOrder)
{
    RecordingVisitor visitor;
    visitSection(static_cast<i32>(SettingsCategory::Animation), visitor);
    const std::vector<std::string> expected
        = { "animationEnabled:on", "gpuSkinning:on", "interpolateBetweenTicks:off", "skinningEnabled:on" };
    EXPECT_EQ(visitor.entries, expected);
}

TEST_F(SettingsTest, FreeReleasesCopiesAndLeavesDefaultsReadable)
{
    setFromCommandLine("userFilePath", "/tmp/somewhere");
    setFromIni("Game", "language", "fr");
    free();
    EXPECT_STREQ(Development.userFilePath, ".");
    EXPECT_STREQ(Game.language, "");
}

} // namespace
} // namespace harmonize
