// Posting app events from four threads while the main thread drains them, as
// game tasks and workers do during a frame: the locked ring against a
// std::mutex over a std::deque of the same records.

#include "harmonize/utils/AppEventQueue.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace harmonize;

constexpr int kPosters = 4;
constexpr int kEvents = 1'000'000;
constexpr int kPerPoster = kEvents / kPosters;

// Every third event of each size: a 12-byte load, a 2-byte menu toggle, a bare quit.
struct MixedEvent {
    AppEventType type;
    u32 size;
};
constexpr MixedEvent kMix[3]
    = { { AppEventType::LoadLevel, 12 }, { AppEventType::ShowMenu, 2 }, { AppEventType::LevelFinished, 0 } };

void BM_AppEventQueue(benchmark::State& state)
{
    for (auto _ : state) {
        AppEventQueueStorage storage;
        std::vector<std::thread> posters;
        for (int t = 0; t < kPosters; ++t)
            posters.emplace_back([&storage, t] {
                u8 payload[12] = {};
                for (int i = 0; i < kPerPoster; ++i) {
                    const MixedEvent& event = kMix[i % 3];
                    payload[0] = static_cast<u8>(t);
                    storage.queue.postEvent(event.type, payload, event.size);
                }
            });
        int received = 0;
        u8 out[12];
        while (received < kEvents) {
            // As the dispatcher drains: read the oldest type, then take it out.
            const i32 type = storage.queue.frontStoredType();
            if (type < 0) {
                std::this_thread::yield(); // nothing queued: as a frame would, leave the posters be
                continue;
            }
            storage.queue.popByType(out, sizeof out, static_cast<u16>(type));
            ++received;
        }
        for (std::thread& poster : posters)
            poster.join();
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kEvents);
}

struct DequeRecord {
    u16 type;
    u32 size;
    u8 payload[12];
};

void BM_MutexDeque(benchmark::State& state)
{
    for (auto _ : state) {
        std::mutex mutex;
        std::deque<DequeRecord> queue;
        std::vector<std::thread> posters;
        for (int t = 0; t < kPosters; ++t)
            posters.emplace_back([&mutex, &queue, t] {
                u8 payload[12] = {};
                for (int i = 0; i < kPerPoster; ++i) {
                    const MixedEvent& event = kMix[i % 3];
                    payload[0] = static_cast<u8>(t);
                    DequeRecord record { storedTypeOf(event.type), event.size, {} };
                    std::memcpy(record.payload, payload, event.size);
                    std::lock_guard lock(mutex);
                    queue.push_back(record);
                }
            });
        int received = 0;
        u8 out[12];
        while (received < kEvents) {
            {
                std::lock_guard lock(mutex);
                if (!queue.empty()) {
                    std::memcpy(out, queue.front().payload, queue.front().size);
                    queue.pop_front();
                    ++received;
                    continue;
                }
            }
            std::this_thread::yield();
        }
        for (std::thread& poster : posters)
            poster.join();
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kEvents);
}

BENCHMARK(BM_AppEventQueue)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_MutexDeque)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

// A full ring is reported once per growth; the benchmark wants no report.
bool ignoreSoftAssert(const char*, const char*, const char*, quern::u32) { return false; }

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::debug::setSoftAssertCallback(&ignoreSoftAssert);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_AppEventQueue/repeats:3/real_time") && t.count("BM_MutexDeque/repeats:3/real_time"))
        std::printf("app event queue throughput / std::mutex + std::deque: %.2fx\n",
            t["BM_MutexDeque/repeats:3/real_time"] / t["BM_AppEventQueue/repeats:3/real_time"]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
