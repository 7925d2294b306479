// One frame of overlay items through the batch's locked adders: 10,000
// rectangles and 1,000 atlas texts (changing every frame), then the end of
// the frame; against pushing the same item records into a std::vector, with
// the texts copied into std::strings, in the same run.

#include "support/RatioReporter.h"

#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/memory/DefaultAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace harmonize;
using quern::u64;

constexpr int kRectangles = 10'000;
constexpr int kTexts = 1'000;

struct Texts {
    char buffer[kTexts][24];
    void format(u64 frame)
    {
        for (int i = 0; i < kTexts; ++i)
            std::snprintf(buffer[i], sizeof buffer[i], "%d: %llu", i, static_cast<unsigned long long>(frame));
    }
};

void BM_OverlayAdders(benchmark::State& state)
{
    LoadingWorker worker { nullptr, nullptr };
    LevelList levelList;
    InputSwitcher switcher;
    InputPrompter prompter { levelList, switcher };
    OverlayBatch overlay { worker, levelList, prompter };
    Texts texts;
    const f32 colour[4] = { 0.2f, 0.4f, 0.6f, 0.5f };
    u64 frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        texts.format(frame++);
        state.ResumeTiming();
        for (int i = 0; i < kRectangles; ++i) {
            const f32 x = static_cast<f32>(i % 100) * 19.0f, y = static_cast<f32>(i / 100) * 10.0f;
            overlay.addRectangle({ x, y, x + 18.0f, y + 9.0f }, 0, colour);
        }
        for (const auto& text : texts.buffer)
            overlay.addAtlasText(text, 100.0f, 200.0f, 20.0f, 9);
        overlay.endFrame();
        benchmark::DoNotOptimize(overlay.drawingItems().data());
    }
}
BENCHMARK(BM_OverlayAdders)->Unit(benchmark::kMicrosecond);

// The peer: the same records pushed into a vector that is swapped and
// cleared like the batch's lists, the texts kept as strings.
void BM_VectorOfRecords(benchmark::State& state)
{
    std::vector<OverlayItem> building, drawing;
    std::vector<std::string> buildingTexts, drawingTexts;
    Texts texts;
    const f32 colour[4] = { 0.2f, 0.4f, 0.6f, 0.5f };
    u64 frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        texts.format(frame++);
        state.ResumeTiming();
        for (int i = 0; i < kRectangles; ++i) {
            const f32 x = static_cast<f32>(i % 100) * 19.0f, y = static_cast<f32>(i / 100) * 10.0f;
            OverlayItem& item = building.emplace_back();
            item.position[0] = x + 9.0f;
            item.position[1] = y + 4.5f;
            item.extent[0] = 9.0f;
            item.extent[1] = 4.5f;
            for (int c = 0; c < 3; ++c)
                item.colour[c] = colour[c] * colour[3];
            item.colour[3] = colour[3];
            item.destinationBlend = 5;
        }
        for (const auto& text : texts.buffer) {
            buildingTexts.emplace_back(text);
            OverlayItem& item = building.emplace_back();
            item.kind = OverlayItemKind::AtlasText;
            item.text = buildingTexts.back().c_str();
            item.position[0] = 100.0f;
            item.position[1] = 200.0f;
            item.extent[0] = 20.0f;
            item.alignment = 9;
        }
        building.swap(drawing);
        buildingTexts.swap(drawingTexts);
        building.clear();
        buildingTexts.clear();
        benchmark::DoNotOptimize(drawing.data());
    }
}
BENCHMARK(BM_VectorOfRecords)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_OverlayAdders") && t.count("BM_VectorOfRecords"))
        std::printf("overlay adders / vector of records (10,000 rectangles, 1,000 texts a frame): %.2fx the time\n",
            t["BM_OverlayAdders"] / t["BM_VectorOfRecords"]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
