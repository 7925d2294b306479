// A million input events (keys, controller buttons and sticks, mouse motion
// and buttons) routed the game's way: pushed into the input manager's ring,
// drained through the switcher's listener and its seven contexts with Game on
// top; against a hand-written loop that matches each event against the same
// bindings gathered into one flat array.

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "quern/containers/EventQueue.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputManager.h"
#include "quern/memory/DefaultAllocator.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace harmonize;
using namespace quern::input;

constexpr int kEvents = 1'000'000;
// Events between two drains, well inside what the ring holds.
constexpr int kBatch = 64;

class BenchBackEnd final : public InputBackEnd {
public:
    void open(InputBackEndStatus& status) override { status = {}; }
    void close() override { }
    void warpMouse(i32, i32) override { }
    void showCursor(bool) override { }
    bool setRelativeMouseMode(bool) override { return true; }
    void pollEvents(quern::containers::EventQueue&) override { }
    i32 getDeviceCount() override { return 3; }
    void getDeviceInfo(quern::u8 device, InputDeviceInfo& info) override
    {
        info = {};
        info.kind = device == 0 ? kInputDeviceKeyboard : device == 1 ? kInputDeviceMouse : kInputDeviceGameController;
    }
    void rumble(quern::u8, quern::u16, quern::u32) override { }
    const char* getStatusText() override { return ""; }
    InputOrigin getInputOrigin(quern::u8, quern::u16, i32) override { return InputOrigin::Unknown; }
};

std::vector<InputEvent> makeEvents()
{
    std::mt19937 random(31);
    const i32 keys[] = { 'a', 'd', 'w', 's', ' ', 27, 8, 9, 13, 273, 274, 275, 276, 304, 'x' };
    std::vector<InputEvent> events(kEvents);
    for (InputEvent& e : events) {
        switch (random() % 5) {
        case 0:
            e = { keys[random() % std::size(keys)], 0, 0, static_cast<quern::u16>(KeyDown + random() % 2), 0 };
            break;
        case 1:
            e = { static_cast<i32>(random() % 15), 0, 0, static_cast<quern::u16>(ControllerButtonDown + random() % 2),
                2 };
            break;
        case 2:
            e = { static_cast<i32>(random() % 2), static_cast<i32>(random() % 65536) - 32768, 0, ControllerAxis, 2 };
            break;
        case 3:
            e = { static_cast<i32>(random() % 21) - 10, static_cast<i32>(random() % 21) - 10, 0, MouseMotion, 1 };
            break;
        default:
            e = { 0, 0, static_cast<i32>(random() % 3), static_cast<quern::u16>(MouseButtonDown + random() % 2), 1 };
            break;
        }
    }
    return events;
}

const std::vector<InputEvent>& events()
{
    static const std::vector<InputEvent> list = makeEvents();
    return list;
}

void BM_InputSwitcherRouting(benchmark::State& state)
{
    Settings::resetToDefaults();
    parseBindings(Settings::Input);
    BenchBackEnd backEnd;
    InputManager manager(&backEnd);
    manager.refreshDeviceRecords();
    InputSwitcher switcher;
    switcher.attach(manager);
    const std::vector<InputEvent>& list = events();
    i64 sink = 0;
    for (auto _ : state) {
        for (int begin = 0; begin < kEvents; begin += kBatch) {
            quern::containers::EventQueue& ring = manager.getEventQueue();
            for (int i = begin; i < begin + kBatch && i < kEvents; ++i)
                std::memcpy(ring.push(list[i].type, sizeof(InputEvent)), &list[i], sizeof(InputEvent));
            manager.update();
            sink += switcher.context(kInputStateGame).getActionCount(kActionAnyKey);
        }
    }
    benchmark::DoNotOptimize(sink);
    switcher.detach(manager);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kEvents);
}

// The seven contexts' bindings in one array, with the counters they drive.
struct FlatBinding {
    quern::u8 kind; // 0 action, 1 state, 2 axis
    quern::i8 match; // action: event type; state and axis: event class
    quern::i16 code; // -1 any (actions); axes: the source
    i32* target;
};

void BM_FlatBindingLoop(benchmark::State& state)
{
    Settings::resetToDefaults();
    parseBindings(Settings::Input);
    InputSwitcher switcher;
    std::vector<i32> counters(4096, 0);
    std::vector<FlatBinding> flat;
    i32* next = counters.data();
    for (i32 s = 0; s < kInputSwitcherStateCount; ++s) {
        const InputContext& c = switcher.context(s);
        for (quern::u64 i = 0; i < c.actionBindings().count(); ++i) {
            const auto& b = c.actionBindings().at<ActionBinding>(i);
            flat.push_back({ 0, b.eventType, b.code, next + b.action });
        }
        for (quern::u64 i = 0; i < c.stateBindings().count(); ++i) {
            const auto& b = c.stateBindings().at<StateBinding>(i);
            flat.push_back({ 1, b.eventClass, b.code, next + 32 + b.state });
        }
        for (quern::u64 i = 0; i < c.axisBindings().count(); ++i) {
            const auto& b = c.axisBindings().at<AxisBinding>(i);
            flat.push_back({ 2, b.eventClass, b.source, next + 64 + b.axis });
        }
        next += 128;
    }
    const std::vector<InputEvent>& list = events();
    for (auto _ : state) {
        for (const InputEvent& e : list) {
            const bool press = e.type == KeyDown || e.type == MouseButtonDown || e.type == ControllerButtonDown;
            const bool release = e.type == KeyUp || e.type == MouseButtonUp || e.type == ControllerButtonUp;
            const quern::i8 eventClass = getInputEventClass(e.type);
            const i32 code = e.type == MouseButtonDown || e.type == MouseButtonUp ? e.button : e.code;
            for (const FlatBinding& b : flat) {
                switch (b.kind) {
                case 0:
                    if (b.match == static_cast<quern::i8>(e.type) && (b.code == -1 || b.code == code))
                        ++*b.target;
                    break;
                case 1:
                    if (b.match == eventClass && b.code == code && (press || release))
                        *b.target += press ? 1 : -1;
                    break;
                default:
                    if (b.match == eventClass && (eventClass != 8 || b.code == e.code))
                        *b.target = eventClass == 8 ? e.value : (b.code == 0 ? e.code : e.value);
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(counters.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kEvents);
}

BENCHMARK(BM_InputSwitcherRouting)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FlatBindingLoop)->Unit(benchmark::kMillisecond)->Repetitions(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    const char* engine = "BM_InputSwitcherRouting/repeats:3";
    const char* peer = "BM_FlatBindingLoop/repeats:3";
    if (t.count(engine) && t.count(peer))
        std::printf("input routing: %.1f ns per event, flat binding loop %.1f ns: %.2fx\n",
            t[engine] * 1e6 / kEvents, t[peer] * 1e6 / kEvents, t[engine] / t[peer]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}
