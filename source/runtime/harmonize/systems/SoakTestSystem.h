#pragma once
// The soak test plays through the levels on its own in test mode: once a level
// has run for the configured simulated time it asks for the next one, and it
// quits after the last. One driver, shared by every world, counts the levels
// started; each world has its own system, re-armed when its world starts.

#include "quern/Types.h"
#include "quern/entity/System.h"

#include <atomic>

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u64;
using quern::u8;

class AppEventQueue;
struct AppContext;

struct SoakTestDriver {
    // total: the levels of the game; first and levels as the Test settings
    // "testStart" and "testLevels" give them. A start outside the levels
    // starts at the nearest end; 0 levels, or more than remain, plays every
    // level from the start to the last.
    void setUp(i32 total, i32 testStart, i32 testLevels, AppEventQueue* queue);

    i32 total = 0;
    i32 first = 0;
    i32 count = 0;
    AppEventQueue* queue = nullptr;
    std::atomic<i32> started { 0 };
};

class SoakTestSystem final : public quern::entity::System {
public:
    // The random state starts at `seed` (the game seeds it with the calendar time).
    SoakTestSystem(AppContext& context, SoakTestDriver& driver, u64 seed, f32 secondsPerLevel, bool randomOrder);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

private:
    AppContext& m_context;
    SoakTestDriver& m_driver;
    u64 m_random;
    f32 m_secondsPerLevel;
    u8 m_done = 0;
    bool m_randomOrder;
};

} // namespace harmonize
