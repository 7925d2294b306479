#pragma once
// A level world with the startup system, the coroutines its lightning runs
// on and a sound system whose requests stay queued (it never ticks). Stepped
// by hand at 10 ms. The lightning generators start afresh with each world,
// the placement one from a fixed calendar.

#include "harmonize/components/Components.h"
#include "harmonize/extensions/LightningExt.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/systems/StartupSystem.h"

#include "harmonize/Scenario.h"

#include "quern/platform/Clock.h"

namespace harmonize::testing {

// The generator the lightning draws from, written out: the next state, and a
// state as a number in [0, 1].
inline u64 nextState(u64 state) { return state * 4561u + 51349u; }
inline f32 unitOf(u64 state) { return static_cast<f32>(state) * 0x1p-64f; }

class StartupWorld {
public:
    static constexpr u64 kStep = 10'000; // microseconds
    static constexpr u64 kCalendarSeconds = 1'000;
    // The placement generator's first state with that calendar.
    static constexpr u64 kPlacementSeed = kCalendarSeconds * 4561u + 234202789u;
    static constexpr u64 kThunderSeed = 42;

    explicit StartupWorld(u64 capacity = 32)
        : scene(capacity)
        , m_calendarScope(m_calendar)
    {
        resetLightningRandom();
        context.coroutine = coroutines;
        context.sound = sound;
        scene.addSystem(new StartupSystem(context));
        scene.addSystem(coroutines);
        scene.addSystem(sound);
        world().getSystemInfo(world().getSystemCount() - 1).state = quern::entity::SystemInfo::kDisabled;
        world().clock.step = kStep;
    }
    ~StartupWorld() { resetLightningRandom(); }

    quern::entity::World& world() { return scene.world(); }

    void start()
    {
        world().attachSystems(nullptr);
        scene.start();
    }
    void tick(u32 count = 1) { scene.tick(count); }

    EntityHandle at(const char* name, std::initializer_list<const char*> components, quern::math::Vector3 position,
        EntityHandle parent = {})
    {
        const EntityHandle e = scene.add(name, components, parent);
        scene.get<Transform>(e).position = position;
        return e;
    }
    bool rendererShown(EntityHandle e) { return world().getEnabledMask(e.index()).test(Renderer::kType); }
    u64 coroutineCount() { return coroutines->fixedTickList().count(); }

    AppContext context;
    Scenario scene;
    CoroutineSystem* coroutines = new CoroutineSystem(context);
    SoundSystem* sound = new SoundSystem(nullptr, nullptr, nullptr, nullptr);

private:
    quern::platform::FixedCalendarSource m_calendar { kCalendarSeconds };
    quern::platform::ScopedCalendarSource m_calendarScope;
};

} // namespace harmonize::testing
