#include "quern/platform/SystemInfo.h"

#include "quern/platform/Debugger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// Sets environment variables for one test and puts the old values back.
class Environment {
public:
    void set(const char* name, const char* value)
    {
        const char* old = std::getenv(name);
        m_saved.push_back({ name, old ? std::optional<std::string>(old) : std::nullopt });
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~Environment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(SystemInfo, UserLanguageFromTheFirstLocaleVariableThatIsSet)
{
    struct Case {
        const char* language;
        const char* all;
        const char* messages;
        const char* lang;
        int expected;
    };
    const Case cases[] = {
        { nullptr, nullptr, nullptr, "en_US.UTF-8", 0 },
        { nullptr, nullptr, nullptr, "fr_FR.UTF-8", 1 },
        { nullptr, nullptr, nullptr, "de_DE@euro", 2 },
        { nullptr, nullptr, nullptr, "it_IT", 3 },
        { nullptr, nullptr, nullptr, "es_ES.UTF-8", 4 },
        { nullptr, nullptr, nullptr, "zh_CN.GB18030", 5 },
        { nullptr, nullptr, nullptr, "ja_JP.UTF-8", 7 },
        { nullptr, nullptr, nullptr, "ru_RU.KOI8-R", 8 },
        { nullptr, nullptr, nullptr, "ko_KR.UTF-8", -1 },
        { nullptr, nullptr, nullptr, "C", -1 },
        { nullptr, nullptr, nullptr, "POSIX", -1 },
        { nullptr, nullptr, nullptr, nullptr, -1 },
        { "ru:en", "de_DE.UTF-8", "fr_FR", "en_US", 8 },
        { "", "de_DE.UTF-8", "fr_FR", "en_US", 2 },
        { nullptr, nullptr, "ja_JP", "en_US", 7 },
    };
    for (const Case& c : cases) {
        Environment environment;
        environment.set("LANGUAGE", c.language);
        environment.set("LC_ALL", c.all);
        environment.set("LC_MESSAGES", c.messages);
        environment.set("LANG", c.lang);
        EXPECT_EQ(quern::platform::getUserLanguage(), c.expected) << (c.lang ? c.lang : "(unset)");
    }
}

TEST(SystemInfo, UserDataFolderPrefersAppDataThenXdgThenHome)
{
    struct Case {
        const char* appData;
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        { "/data/app", "/xdg", "/home/u", "/data/app/Game" },
        { "/data/app/", nullptr, "/home/u", "/data/app/Game" },
        { nullptr, "/xdg/share", "/home/u", "/xdg/share/Game" },
        { "", "/xdg/share", "/home/u", "/xdg/share/Game" },
        { nullptr, nullptr, "/home/u", "/home/u/.local/share/Game" },
        { nullptr, nullptr, "/home/u/", "/home/u/.local/share/Game" },
        { nullptr, nullptr, nullptr, "" },
    };
    for (const Case& c : cases) {
        Environment environment;
        environment.set("APPDATA", c.appData);
        environment.set("XDG_DATA_HOME", c.xdg);
        environment.set("HOME", c.home);
        EXPECT_EQ(quern::platform::getUserDataFolder("Game"), c.expected);
    }
}

TEST(SystemInfo, OperatingSystemRecordOfThisMachine)
{
    const quern::platform::OSInfo os = quern::platform::OSInfo::query();
    EXPECT_STREQ(os.name, "Linux");
    EXPECT_EQ(os.version.rfind("Linux ", 0), 0u) << os.version;
    EXPECT_EQ(os.architecture, "x64");
    EXPECT_TRUE(os.is64Bit);
    EXPECT_GT(os.totalPhysicalMemory, 0u);
    EXPECT_LE(os.availablePhysicalMemory, os.totalPhysicalMemory);
}

TEST(SystemInfo, ProcessorBrandAndCount)
{
    const quern::platform::SystemInfo& info = quern::platform::querySystemInfo();
    EXPECT_EQ(&info, &quern::platform::getSystemInfo());
    EXPECT_GT(std::strlen(info.cpuBrand), 0u);
    EXPECT_LT(std::strlen(info.cpuBrand), sizeof info.cpuBrand);
    EXPECT_GE(info.processorCount, 1u);
    const quern::u32 mhz = quern::platform::getCpuMHz(0);
    EXPECT_GT(mhz, 100u);
    EXPECT_LT(mhz, 20000u);
    EXPECT_EQ(quern::platform::getCpuMHz(3), mhz);
}

TEST(Debugger, NoTracerUnderTheTestRunner)
{
    if (std::getenv("QUERN_UNDER_DEBUGGER"))
        GTEST_SKIP();
    EXPECT_FALSE(quern::platform::isDebuggerPresent());
}

} // namespace
