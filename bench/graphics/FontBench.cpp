// Measuring text with the built-in bitmap font: 10,000 UTF-8 strings (mostly
// ASCII, some Latin-1 letters) per iteration, reported as ns per character.
// Two peers in the same run: the bare UTF-8 decode of the same strings (the
// floor any measurer pays) and a measurer over a flat advance table indexed by
// code point (what a single-size font could do instead of the size index).

#include "quern/graphics/Font.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Utf8.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using quern::f32;
using quern::u32;
using quern::u8;

constexpr u32 kStrings = 10000;

struct Corpus {
    std::vector<std::string> texts;
    u32 characters = 0;
};

const Corpus& corpus()
{
    static const Corpus made = [] {
        Corpus c;
        std::mt19937 random(11);
        std::uniform_int_distribution<u32> length(4, 60);
        std::uniform_int_distribution<u32> ascii(32, 126);
        std::uniform_int_distribution<u32> latin(0xC0, 0xFF);
        std::uniform_int_distribution<u32> percent(0, 99);
        for (u32 i = 0; i < kStrings; ++i) {
            std::string text;
            const u32 n = length(random);
            for (u32 k = 0; k < n; ++k) {
                const u32 roll = percent(random);
                if (roll < 85) {
                    text.push_back(static_cast<char>(ascii(random)));
                } else if (roll < 97) {
                    const u32 c = latin(random);
                    text.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                } else {
                    text.push_back('\n');
                }
            }
            c.characters += n;
            c.texts.push_back(std::move(text));
        }
        return c;
    }();
    return made;
}

void setCharacterRate(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * corpus().characters);
}

void measureCorpus(benchmark::State& state, f32 size)
{
    quern::Ref holder(quern::graphics::createBuiltinFont(nullptr));
    const auto& font = *holder.get<quern::graphics::Font>();
    const Corpus& c = corpus();
    for (auto _ : state) {
        f32 total = 0;
        for (const std::string& text : c.texts)
            total += font.getTextWidth(text.c_str(), size, 1.0f, true);
        benchmark::DoNotOptimize(total);
    }
    setCharacterRate(state);
}

// At 16 pixels no record has the asked size, so every lookup weighs the code
// point's records for the nearest size.
void BM_FontTextWidth(benchmark::State& state) { measureCorpus(state, 16.0f); }
// At the font's own 22 pixels a lookup stops at the code point's record.
void BM_FontTextWidthOwnSize(benchmark::State& state) { measureCorpus(state, 22.0f); }

void BM_Utf8DecodeOnly(benchmark::State& state)
{
    const Corpus& c = corpus();
    for (auto _ : state) {
        u32 sum = 0;
        for (const std::string& text : c.texts) {
            u32 decoder = quern::strings::kUtf8Accept, codePoint = 0;
            for (const char* p = text.c_str(); *p; ++p)
                if (quern::strings::utf8DecodeStep(decoder, codePoint, static_cast<u8>(*p)) == 0)
                    sum += codePoint;
        }
        benchmark::DoNotOptimize(sum);
    }
    setCharacterRate(state);
}

void BM_FlatTableWidth(benchmark::State& state)
{
    f32 advance[256];
    for (f32& a : advance)
        a = 12.0f;
    const Corpus& c = corpus();
    const f32 scale = 16.0f / 22.0f;
    for (auto _ : state) {
        f32 total = 0;
        for (const std::string& text : c.texts) {
            u32 decoder = quern::strings::kUtf8Accept, codePoint = 0;
            f32 cursor = 0, width = 0;
            for (const char* p = text.c_str(); *p; ++p) {
                if (quern::strings::utf8DecodeStep(decoder, codePoint, static_cast<u8>(*p)) != 0)
                    continue;
                if (codePoint == '\n') {
                    cursor = 0;
                    continue;
                }
                const f32 end = cursor + (codePoint < 256 ? scale * advance[codePoint] : 0.0f);
                width = std::max(width, end);
                cursor = end + 1.0f;
            }
            total += width;
        }
        benchmark::DoNotOptimize(total);
    }
    setCharacterRate(state);
}

BENCHMARK(BM_FontTextWidth)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FontTextWidthOwnSize)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Utf8DecodeOnly)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FlatTableWidth)->Unit(benchmark::kMillisecond)->Repetitions(3);

// Keeps the best repetition of each benchmark for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.run_name.function_name;
            auto [it, added] = seconds.emplace(name, run.GetAdjustedRealTime());
            if (!added && run.GetAdjustedRealTime() < it->second)
                it->second = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const double characters = corpus().characters;
    for (const char* name : { "BM_FontTextWidth", "BM_FontTextWidthOwnSize", "BM_Utf8DecodeOnly", "BM_FlatTableWidth" })
        if (t.count(name))
            std::printf("%s: %.2f ns per character (%u strings, %.0f characters)\n", name, t[name] * 1e6 / characters,
                kStrings, characters);
    if (t.count("BM_FontTextWidth") && t.count("BM_Utf8DecodeOnly"))
        std::printf(
            "Font width time / bare UTF-8 decode time: %.2fx\n", t["BM_FontTextWidth"] / t["BM_Utf8DecodeOnly"]);
    if (t.count("BM_FontTextWidth") && t.count("BM_FlatTableWidth"))
        std::printf(
            "Font width time / flat advance-table width time: %.2fx\n", t["BM_FontTextWidth"] / t["BM_FlatTableWidth"]);
    if (t.count("BM_FontTextWidthOwnSize") && t.count("BM_FlatTableWidth"))
        std::printf("Font width time at the font's own size / flat advance-table width time: %.2fx\n",
            t["BM_FontTextWidthOwnSize"] / t["BM_FlatTableWidth"]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
