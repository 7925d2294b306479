// A level with 500 dependencies (small DDS textures and the materials that use
// them), built by the content tool, loaded through the loading worker with
// threading off and with four workers; the main thread pumps the main-thread
// stages a millisecond at a time, as the frame does.

#include "support/RatioReporter.h"

#include "runtime/quern/graphics/DDSTestFiles.h"
#include "support/BuiltContent.h"
#include "harmonize/Settings.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/tasks/LoadingWorker.h"
#include "harmonize/tasks/TaskDispatcher.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/assets/AssetDatabase.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/entity/World.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/serialization/MaterialSerialization.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/Clock.h"
#include "quern/strings/Hashes.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace harmonize;

constexpr int kTextures = 250; // and as many materials: 500 dependencies
constexpr quern::u32 kTextureSize = 64;

// An uncompressed 32-bit DDS of the given size with a pattern in it.
std::string makeTexture(int seed)
{
    std::vector<quern::u8> file = quern::graphics::testing::makeDDS(
        quern::graphics::testing::rgba32Spec(kTextureSize, kTextureSize), kTextureSize * kTextureSize * 4);
    for (size_t i = 128; i < file.size(); ++i)
        file[i] = static_cast<quern::u8>(i * 7 + static_cast<size_t>(seed));
    return std::string(file.begin(), file.end());
}

struct Content {
    fs::path root;
    quern::testing::BuiltContent built;
    quern::u64 levelId = 0;

    bool build()
    {
        root = fs::temp_directory_path() / "harmonize-level-load-bench";
        fs::remove_all(root);
        fs::create_directories(root / "source/textures");
        fs::create_directories(root / "source/materials");
        std::ofstream manifest(root / "manifest.txt");
        std::string dependencies;
        for (int i = 0; i < kTextures; ++i) {
            const std::string n = std::to_string(i);
            std::ofstream(root / "source/textures" / (n + ".dds"), std::ios::binary) << makeTexture(i);
            std::ofstream(root / "source/materials" / n) << "texture albedo textures/" << n << ".dds\n";
            manifest << "textures/" << n << ".dds texture\nmaterials/" << n << " material textures/" << n << ".dds\n";
            dependencies += " materials/" + n + " textures/" + n + ".dds";
        }
        std::ofstream(root / "source/level") << "entity thing\nTransform.position 0 0 0\n";
        manifest << "level level" << dependencies << "\n";
        manifest.close();
        std::string error;
        if (!built.build(root / "manifest.txt", root / "source", root / "out", error)) {
            std::fprintf(stderr, "content: %s\n", error.c_str());
            return false;
        }
        levelId = quern::strings::murmurHash64A("level", 5, 0);
        return true;
    }
};

Content* g_content = nullptr;

void loadLevel(benchmark::State& state, bool threaded)
{
    TaskDispatcher dispatcher;
    if (threaded) {
        ThreadingSettings threading;
        threading.enabled = true;
        threading.workers = 4;
        dispatcher.start(threading);
    }
    AppEventQueueStorage events;
    AppServices services;
    services.appEventQueue = &events.queue;
    services.taskDispatcher = &dispatcher;
    const auto oneMillisecond = static_cast<i64>(quern::platform::kPerformanceFrequency / 1000);
    quern::u64 pumps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto worker = std::make_unique<LoadingWorker>(g_content->built.depot.get(), &g_content->built.database);
        auto world = std::make_unique<quern::entity::World>();
        state.ResumeTiming();

        worker->loadWorld(*world, services, g_content->levelId, true, 1, nullptr);
        // One pump per frame; the rest of each frame the main thread sleeps,
        // as the frame-rate cap (300 frames a second by default) lets it.
        while (events.queue.isEmpty()) {
            const quern::u64 frameStart = quern::platform::getPerformanceCounter();
            worker->pumpMainThreadJobs(oneMillisecond);
            if (!events.queue.isEmpty())
                break;
            const quern::u64 spent = quern::platform::getPerformanceCounter() - frameStart;
            const quern::u64 frame = quern::platform::kPerformanceFrequency / 300;
            if (spent < frame)
                std::this_thread::sleep_for(std::chrono::microseconds((frame - spent) / 10));
            ++pumps;
        }
        dispatcher.wait(worker->task());
        events.queue.drop();

        state.PauseTiming();
        world.reset();
        worker.reset();
        state.ResumeTiming();
    }
    state.counters["frames"] = benchmark::Counter(static_cast<double>(pumps), benchmark::Counter::kAvgIterations);
    dispatcher.stop();
}

void BM_LevelLoadThreadingOff(benchmark::State& state) { loadLevel(state, false); }
void BM_LevelLoadFourWorkers(benchmark::State& state) { loadLevel(state, true); }

BENCHMARK(BM_LevelLoadThreadingOff)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_LevelLoadFourWorkers)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::graphics::Display::set(nullptr);
    quern::assets::AssetHandlerRegistry registry;
    registry.create<quern::graphics::PixelBufferHandler>();
    registry.create<quern::graphics::MaterialHandler>();
    quern::assets::AssetHandlerRegistry::setInstance(&registry);
    Content content;
    if (!content.build())
        return 1;
    g_content = &content;
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const char* off = "BM_LevelLoadThreadingOff/repeats:3/real_time";
    const char* on = "BM_LevelLoadFourWorkers/repeats:3/real_time";
    if (t.count(off) && t.count(on))
        std::printf("level load, threading off / four workers: %.2fx (%.1f ms / %.1f ms)\n", t[off] / t[on],
            t[off], t[on]);
    g_content = nullptr;
    quern::assets::AssetHandlerRegistry::setInstance(nullptr);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
