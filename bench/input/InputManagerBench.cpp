// InputManager::update with a full ring (85 mixed events) into seven contexts
// of 20 bindings and two listeners, against a hand-written loop that applies
// the same events to the same bindings held in plain arrays (no ring, no
// listener snapshot, no controller translation).

#include "quern/containers/EventQueue.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputListener.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "quern/memory/DefaultAllocator.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace quern;
using namespace quern::input;

constexpr int kContexts = 7;
constexpr int kEvents = 85;

std::vector<InputEvent> makeEvents()
{
    std::vector<InputEvent> events;
    const auto add = [&](u16 type, i32 code, i32 value, i32 button, u8 device) {
        InputEvent e;
        e.type = type;
        e.code = code;
        e.value = value;
        e.button = button;
        e.device = device;
        events.push_back(e);
    };
    for (int i = 0; static_cast<int>(events.size()) < kEvents; ++i) {
        switch (i % 8) {
        case 0:
            add(KeyDown, "wasdjk "[i % 7], 0, 0, 0);
            break;
        case 1:
            add(KeyUp, "wasdjk "[(i + 3) % 7], 0, 0, 0);
            break;
        case 2:
            add(MouseMotion, 100 + i, 200 - i, 0, 1);
            break;
        case 3:
            add(MouseButtonDown, 0, 0, i % 3, 1);
            break;
        case 4:
            add(MouseWheel, (i % 2) ? 120 : -120, 1, (i % 2) ? 120 : -120, 1);
            break;
        case 5:
            add(ControllerAxis, i % 4, (i * 3001) % 65536 - 32768, 0, 2);
            break;
        case 6:
            add(ControllerButtonDown, i % 15, 0, 0, 2);
            break;
        default:
            add(ControllerButtonUp, (i + 5) % 15, 0, 0, 2);
            break;
        }
    }
    return events;
}

// Twenty bindings, as a game context holds them: ten actions, five states,
// five axes.
void bindContext(InputContext& context, int seed)
{
    const i32 keys[] = { 'w', 'a', 's', 'd', 'j', 'k', ' ', kKeyEscape, kKeyReturn, kKeyUp };
    for (int i = 0; i < 6; ++i)
        context.bindAction(i, KeyDown, keys[(i + seed) % 10]);
    context.bindAction(6, MouseButtonDown, 0);
    context.bindAction(7, ControllerButtonDown, GameControllerMapping::A);
    context.bindAction(8, ControllerButtonDown, (seed + 3) % 15);
    context.bindAction(9, KeyDown, -1);
    context.bindState(0, KeyDown, 'a').bindState(1, KeyDown, 'd').bindState(2, KeyDown, 'w');
    context.bindState(3, ControllerButtonDown, GameControllerMapping::DPadDown).bindState(4, MouseButtonDown, 2);
    context.bindMouseAxis(0, 0, false).bindMouseAxis(3, 1, false).bindMouseWheel(4, 0);
    context.bindControllerAxis(1, 0).bindControllerAxis(2, 1);
}

struct CountingListener final : InputListener {
    void onInputEvent(const InputEvent& event, InputManager&) override { sum += event.code; }
    i64 sum = 0;
};

// A back end that refills the ring with the same events every poll.
class ReplayBackEnd final : public InputBackEnd {
public:
    explicit ReplayBackEnd(const std::vector<InputEvent>& events)
        : m_events(events)
    {
    }
    void open(InputBackEndStatus& status) override { status = {}; }
    void close() override { }
    void warpMouse(i32, i32) override { }
    void showCursor(bool) override { }
    bool setRelativeMouseMode(bool) override { return true; }
    void pollEvents(containers::EventQueue& ring) override
    {
        for (const InputEvent& event : m_events) {
            if (void* place = ring.push(event.type, sizeof event))
                std::memcpy(place, &event, sizeof event);
        }
    }
    i32 getDeviceCount() override { return 3; }
    void getDeviceInfo(u8 device, InputDeviceInfo& info) override
    {
        info.name = "device";
        info.kind = device == 0 ? kInputDeviceKeyboard : device == 1 ? kInputDeviceMouse : kInputDeviceGameController;
    }
    void rumble(u8, u16, u32) override { }
    const char* getStatusText() override { return ""; }
    InputOrigin getInputOrigin(u8, u16, i32) override { return InputOrigin::Unknown; }

private:
    const std::vector<InputEvent>& m_events;
};

void BM_InputManagerUpdate(benchmark::State& state)
{
    const std::vector<InputEvent> events = makeEvents();
    ReplayBackEnd backEnd(events);
    InputManager manager(&backEnd);
    static InputContext contexts[kContexts];
    for (int i = 0; i < kContexts; ++i) {
        contexts[i].clearBindings();
        bindContext(contexts[i], i);
        manager.addContext(&contexts[i]);
    }
    CountingListener listeners[2];
    manager.addListener(&listeners[0]);
    manager.addListener(&listeners[1]);
    backEnd.pollEvents(manager.getEventQueue());
    manager.update();
    if (listeners[0].sum == 0)
        state.SkipWithError("the ring did not hold the events");
    for (auto _ : state) {
        backEnd.pollEvents(manager.getEventQueue());
        manager.update();
        benchmark::DoNotOptimize(contexts[0].getActionCount(0));
    }
    benchmark::DoNotOptimize(listeners[0].sum + listeners[1].sum);
    state.SetItemsProcessed(state.iterations() * kEvents * kContexts);
}
BENCHMARK(BM_InputManagerUpdate);

// The same bindings in plain arrays, applied by one hand-written loop.
struct PlainContext {
    std::vector<ActionBinding> actions;
    std::vector<StateBinding> states;
    std::vector<AxisBinding> axes;
    std::vector<i32> counts;
    std::vector<i8> modifiers;
    std::vector<i8> held;
    std::vector<i32> values;
    u32 deviceMask = ~0u;
};

PlainContext copyOf(const InputContext& context)
{
    PlainContext plain;
    const auto copy = [](auto& out, const containers::Array& in) {
        using T = typename std::remove_reference_t<decltype(out)>::value_type;
        out.assign(in.dataAs<T>(), in.dataAs<T>() + in.count());
    };
    copy(plain.actions, context.actionBindings());
    copy(plain.states, context.stateBindings());
    copy(plain.axes, context.axisBindings());
    copy(plain.counts, context.actionCounts());
    copy(plain.modifiers, context.modifierCounters());
    copy(plain.held, context.heldCounters());
    copy(plain.values, context.axisValues());
    return plain;
}

inline bool matches(const InputEvent& e, i32 code)
{
    if (e.type == KeyDown || e.type == KeyUp || e.type == ControllerButtonDown || e.type == ControllerButtonUp)
        return code == e.code;
    if (e.type == MouseButtonDown || e.type == MouseButtonUp)
        return code == e.button;
    return false;
}

void applyPlain(PlainContext& c, const InputEvent& e)
{
    const i32 step = e.type == KeyDown ? 1 : e.type == KeyUp ? -1 : 0;
    for (const ActionBinding& b : c.actions) {
        i8& held = c.modifiers[b.action];
        i32 required = 0;
        for (const i16 modifier : { b.modifier1, b.modifier2 }) {
            if (modifier == 0)
                continue;
            ++required;
            if (step != 0 && e.code == modifier) {
                const i8 next = static_cast<i8>(held + step);
                held = next < 0 ? 0 : next;
            }
        }
        if (held != required || b.eventType != static_cast<i8>(e.type))
            continue;
        if (b.code == -1 || matches(e, b.code))
            ++c.counts[b.action];
    }
    const i8 eventClass = getInputEventClass(e.type);
    const bool press = e.type == KeyDown || e.type == MouseButtonDown || e.type == ControllerButtonDown;
    const bool release = e.type == KeyUp || e.type == MouseButtonUp || e.type == ControllerButtonUp;
    if (press || release) {
        for (const StateBinding& b : c.states) {
            if (b.eventClass == eventClass && matches(e, b.code)) {
                const i8 next = static_cast<i8>(c.held[b.state] + (press ? 1 : -1));
                c.held[b.state] = next < 0 ? 0 : next;
            }
        }
    }
    for (const AxisBinding& b : c.axes) {
        if (b.eventClass != eventClass)
            continue;
        if (eventClass == 4) {
            if ((e.type == MouseWheel) != b.wheel)
                continue;
            const i16 candidate = static_cast<i16>(b.source == 0 ? e.code : e.value);
            if (b.resetEachFrame ? candidate != 0 : candidate != static_cast<i16>(c.values[b.axis]))
                c.values[b.axis] = candidate;
        } else if (eventClass == 8 && b.source == e.code) {
            c.values[b.axis] = static_cast<i16>(e.value);
        }
    }
}

void BM_PlainArrayLoop(benchmark::State& state)
{
    const std::vector<InputEvent> events = makeEvents();
    static InputContext bound[kContexts];
    std::vector<PlainContext> contexts;
    for (int i = 0; i < kContexts; ++i) {
        bound[i].clearBindings();
        bindContext(bound[i], i);
        contexts.push_back(copyOf(bound[i]));
    }
    CountingListener listeners[2];
    ReplayBackEnd idle(events);
    InputManager manager(&idle); // only passed to the listeners
    for (auto _ : state) {
        for (PlainContext& c : contexts) {
            std::fill(c.counts.begin(), c.counts.end(), 0);
            for (const AxisBinding& b : c.axes) {
                if (b.resetEachFrame)
                    c.values[b.axis] = 0;
            }
        }
        for (const InputEvent& e : events) {
            for (CountingListener& listener : listeners)
                listener.onInputEvent(e, manager);
            const u32 bit = 1u << (e.device % 32);
            for (PlainContext& c : contexts) {
                if (c.deviceMask & bit)
                    applyPlain(c, e);
            }
        }
        benchmark::DoNotOptimize(contexts[0].counts[0]);
    }
    benchmark::DoNotOptimize(listeners[0].sum + listeners[1].sum);
    state.SetItemsProcessed(state.iterations() * kEvents * kContexts);
}
BENCHMARK(BM_PlainArrayLoop);

} // namespace

int main(int argc, char** argv)
{
    memory::initDefaultAllocators(memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    // Times are in nanoseconds per update.
    const double perEventContext = 1.0 / (kEvents * kContexts);
    if (t.count("BM_InputManagerUpdate"))
        std::printf(
            "InputManager::update: %.2f ns per event and context\n", t["BM_InputManagerUpdate"] * perEventContext);
    if (t.count("BM_PlainArrayLoop"))
        std::printf("Plain-array loop: %.2f ns per event and context\n", t["BM_PlainArrayLoop"] * perEventContext);
    if (t.count("BM_InputManagerUpdate") && t.count("BM_PlainArrayLoop"))
        std::printf("InputManager::update / plain-array loop time: %.2fx\n",
            t["BM_InputManagerUpdate"] / t["BM_PlainArrayLoop"]);
    benchmark::Shutdown();
    memory::shutdownDefaultAllocators();
    return 0;
}
