// The input back end's poll against a bare SDL_PollEvent loop over the same
// 80 queued events (keys, pointer motion, wheel, pad axes), under SDL's dummy
// video driver. Prints ns per event and the ratio after the table.

#include "quern/containers/EventQueue.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/sdl/SDL2InputBackEnd.h"
#include "quern/sdl/SDL2Library.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace quern;

constexpr int kEventCount = 80;

template <typename Function> Function librarySymbol(const char* name)
{
    return reinterpret_cast<Function>(platform::getLibrarySymbol(sdl::getSDLLibrary(), name));
}

struct Fixture {
    sdl::SDL2InputBackEnd* input = nullptr;
    SDL_JoystickID pad = -1;
    int (*pushEvent)(SDL_Event*) = nullptr;
};

Fixture g_fixture;

// A mix as a busy frame brings it: keys going down and up, the pointer
// moving, the wheel and a pad's sticks.
void queueEvents()
{
    for (int i = 0; i < kEventCount; ++i) {
        SDL_Event event {};
        switch (i % 4) {
        case 0:
            event.type = (i / 4) % 2 ? SDL_KEYUP : SDL_KEYDOWN;
            event.key.keysym.scancode = static_cast<SDL_Scancode>(SDL_SCANCODE_A + (i / 8) % 26);
            break;
        case 1:
            event.type = SDL_MOUSEMOTION;
            event.motion.x = i;
            event.motion.y = 2 * i;
            break;
        case 2:
            event.type = i % 8 == 2 ? SDL_MOUSEWHEEL : SDL_JOYAXISMOTION;
            event.wheel.y = 1;
            if (event.type == SDL_JOYAXISMOTION) {
                event.jaxis.which = g_fixture.pad;
                event.jaxis.axis = 0;
                event.jaxis.value = static_cast<Sint16>(100 * i);
            }
            break;
        default:
            event.type = SDL_JOYAXISMOTION;
            event.jaxis.which = g_fixture.pad;
            event.jaxis.axis = 1;
            event.jaxis.value = static_cast<Sint16>(-100 * i);
            break;
        }
        g_fixture.pushEvent(&event);
    }
}

void BM_BackEndPollEvents(benchmark::State& state)
{
    containers::EventQueue ring;
    ring.reserve(4096);
    for (auto _ : state) {
        state.PauseTiming();
        while (!ring.isEmpty())
            ring.pop();
        queueEvents();
        state.ResumeTiming();
        g_fixture.input->pollEvents(ring);
    }
    state.SetItemsProcessed(state.iterations() * kEventCount);
}

void BM_BareSDLPollEvent(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        queueEvents();
        state.ResumeTiming();
        SDL_Event event;
        int taken = 0;
        while (sdl::sdl2.SDL_PollEvent(&event))
            ++taken;
        benchmark::DoNotOptimize(taken);
    }
    state.SetItemsProcessed(state.iterations() * kEventCount);
}

BENCHMARK(BM_BackEndPollEvents);
BENCHMARK(BM_BareSDLPollEvent);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    sdl::initSDL2(sdl::kVideoSubsystem | sdl::kInputSubsystems);
    g_fixture.pushEvent = librarySymbol<int (*)(SDL_Event*)>("SDL_PushEvent");
    sdl::SDL2InputBackEnd input(nullptr);
    input::InputBackEndStatus status;
    input.open(status);
    g_fixture.input = &input;
    librarySymbol<int (*)(SDL_JoystickType, int, int, int)>("SDL_JoystickAttachVirtual")(
        SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 0);
    containers::EventQueue ring;
    ring.reserve(4096);
    input.pollEvents(ring); // opens the pad
    g_fixture.pad = input.slot(0).instanceId;

    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    // Real times are per iteration (80 events) in the report's unit (ns).
    for (const char* name : { "BM_BackEndPollEvents", "BM_BareSDLPollEvent" })
        if (t.count(name))
            std::printf("%s: %.1f ns per event\n", name, t[name] / kEventCount);
    if (t.count("BM_BackEndPollEvents") && t.count("BM_BareSDLPollEvent"))
        std::printf(
            "pollEvents / bare SDL_PollEvent time: %.2fx\n", t["BM_BackEndPollEvents"] / t["BM_BareSDLPollEvent"]);
    benchmark::Shutdown();
    input.close();
    sdl::shutdownSDL();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}
