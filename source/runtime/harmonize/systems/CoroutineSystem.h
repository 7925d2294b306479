#pragma once
// Gameplay sequences that last longer than one tick (a bubble popping open, a
// death and respawn, a thunder flash) run as coroutines: plain records with a
// resume point, a wait and a small locals area, stepped by one callback. The
// system owns every coroutine of its world and runs them from its fixed tick
// and its update; while the world's context is paused they stay frozen.
//
// A callback works on its own copy of the record: it sets the next resume
// point and a wait and returns true, or sets the resume point to -1 and
// returns false when it is done. Records move when a list grows or is
// compacted, so nothing may keep a pointer to one beyond the call. Restores
// and detaches happen between passes, never from a callback.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"

#include <type_traits>

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u64;
using quern::u8;

struct AppContext;
struct Coroutine;

enum class CoroutineStatus : i32 {
    Ready = 0, // waiting for its next step
    Running = 1, // only ever seen by the callback, in its own copy
    Finished = 2, // removed at the end of the pass
};

// Returns true to keep running, false when finished.
using CoroutineCallback
    = bool (*)(void* userData, Coroutine& coroutine, quern::entity::World& world, AppContext& context);

// Copied byte for byte by the passes and the quick save; it owns nothing.
struct Coroutine {
    static constexpr u64 kLocalsSize = 64;

    i32 resumePoint; // 0 on start; each callback chooses its own values, -1 when done
    f32 wait; // seconds before the callback runs again; 0 = the next pass
    alignas(8) u8 locals[kLocalsSize]; // the callback's own variables; zero on start
    void* userData;
    CoroutineCallback callback;
    CoroutineStatus status;

    template <class Locals> Locals& localsAs()
    {
        static_assert(std::is_trivially_copyable_v<Locals>);
        static_assert(sizeof(Locals) <= kLocalsSize && alignof(Locals) <= 8);
        return *reinterpret_cast<Locals*>(locals);
    }
};
static_assert(sizeof(Coroutine) == 96 && alignof(Coroutine) == 8);
static_assert(std::is_trivially_copyable_v<Coroutine>);

// Marks the coroutine done; a callback returns what this returns.
inline bool endCoroutine(Coroutine& coroutine)
{
    coroutine.resumePoint = -1;
    return false;
}

class CoroutineSystem final : public quern::entity::System {
public:
    // Records reserved per list at attach, so that a pass rarely allocates.
    static constexpr u64 kReservedRecords = 256;

    explicit CoroutineSystem(AppContext& context);
    ~CoroutineSystem() override;

    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Appends a coroutine to the fixed-tick list: resume point 0, no wait,
    // `localsSize` bytes of `locals` at the start of its locals area and zeros
    // after them. It runs in the next pass, or later in the current pass when
    // a callback of that list starts it. The reference lasts until the list
    // next grows or is compacted.
    Coroutine& start(CoroutineCallback callback, void* userData, const void* locals = nullptr, u64 localsSize = 0);
    template <class Locals> Coroutine& start(CoroutineCallback callback, void* userData, const Locals& locals)
    {
        static_assert(std::is_trivially_copyable_v<Locals>);
        static_assert(sizeof(Locals) <= Coroutine::kLocalsSize && alignof(Locals) <= 8);
        return start(callback, userData, &locals, sizeof(Locals));
    }

    // The quick save's copies of both lists, records exactly as they are.
    void saveSnapshot();
    void restoreSnapshot();

    // Arrays of Coroutine, in start order.
    quern::containers::Array& fixedTickList() { return m_fixedTickList; }
    quern::containers::Array& frameList() { return m_frameList; }
    const quern::containers::Array& fixedTickSnapshot() const { return m_fixedTickSnapshot; }
    const quern::containers::Array& frameSnapshot() const { return m_frameSnapshot; }

private:
    void run(quern::containers::Array& list, quern::entity::World& world);

    quern::containers::Array m_fixedTickSnapshot;
    quern::containers::Array m_fixedTickList;
    quern::containers::Array m_frameSnapshot;
    quern::containers::Array m_frameList;
    AppContext* m_context;
};

} // namespace harmonize
