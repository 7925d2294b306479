// Loading a "settings.ini" that sets every key: the engine's INI scanner against
// libinih scanning the same text, both handing each entry to the same settings
// lookup, and the whole load and save through the home file system.

#include "harmonize/Settings.h"
#include "quern/io/HomeFileSystem.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/settings/IniParser.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace harmonize;

// Every key set to a value other than its default.
std::string iniSettingEveryKey()
{
    std::string text;
    u32 keys = 0;
    for (const SettingsSection& section : kSettingsSections) {
        text += std::string("\n[") + section.name + "]\n";
        for (u32 i = 0; i < section.keyCount; ++i, ++keys) {
            const SettingKey& key = section.keys[i];
            text += key.key;
            text += " = ";
            switch (key.kind) {
            case SettingKind::Bool:
                text += i % 2 ? "yes" : "off";
                break;
            case SettingKind::Int:
                text += std::to_string(1000 + keys);
                break;
            case SettingKind::Float:
                text += std::to_string(keys) + ".25";
                break;
            case SettingKind::String:
                text += std::string("value of ") + key.key;
                break;
            }
            text += '\n';
        }
    }
    if (keys != kSettingsKeyCount)
        std::abort();
    return text;
}

const std::string& iniText()
{
    static const std::string text = iniSettingEveryKey();
    return text;
}

quern::i32 applyEngineEntry(void*, const char* section, const char* key, const char* value)
{
    return Settings::setFromIni(section, key, value);
}

int applyInihEntry(void*, const char* section, const char* key, const char* value)
{
    return Settings::setFromIni(section, key, value) == 0 ? 1 : 0;
}

void BM_SettingsParseEngine(benchmark::State& state)
{
    const std::string& text = iniText();
    for (auto _ : state) {
        const quern::i32 result
            = quern::settings::parseIniText(text.data(), text.data() + text.size(), applyEngineEntry);
        if (result != 0)
            state.SkipWithError("an entry was refused");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_SettingsParseEngine);

void BM_SettingsParseInih(benchmark::State& state)
{
    const std::string& text = iniText();
    for (auto _ : state) {
        const int result = ini_parse_string(text.c_str(), applyInihEntry, nullptr);
        if (result != 0)
            state.SkipWithError("an entry was refused");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_SettingsParseInih);

void BM_SettingsLoadAndSave(benchmark::State& state)
{
    const std::filesystem::path folder
        = std::filesystem::temp_directory_path() / ("quern-settings-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    quern::io::HomeFileSystem files;
    files.setDirectory(folder.c_str());
    files.setQuiet(true);
    if (std::FILE* file = std::fopen((folder / Settings::kFileName).c_str(), "wb")) {
        std::fwrite(iniText().data(), 1, iniText().size(), file);
        std::fclose(file);
    }
    for (auto _ : state) {
        if (!Settings::load(files) || !Settings::save(files))
            state.SkipWithError("load or save failed");
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SettingsLoadAndSave);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_SettingsParseEngine") && t.count("BM_SettingsParseInih"))
        std::printf("settings with all %d keys: engine %.2f us, libinih %.2f us, engine time / libinih time: %.2fx\n",
            kSettingsKeyCount, t["BM_SettingsParseEngine"] * 1e-3, t["BM_SettingsParseInih"] * 1e-3,
            t["BM_SettingsParseEngine"] / t["BM_SettingsParseInih"]);
    Settings::free();
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
