#pragma once
// A named set of bindings from raw inputs (an event type and a code) to the
// game's actions (how often an input fired this update), states (whether an
// input is held) and axes (a signed value from a pointer, wheel or stick).
//
// A context keeps its bindings and values in a 1 KB arena inside itself, so
// it is built in place and never copied or moved: its arrays point into it.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/input/InputEvent.h"
#include "quern/input/InputReplay.h"
#include "quern/memory/FallbackAllocator.h"

namespace quern::input {

// The class of an event type that state and axis bindings match on: 0 keys,
// 2 mouse buttons, 4 pointer and wheel, 6 controller buttons, 8 controller
// axes, 9 anything else.
i8 getInputEventClass(u16 eventType);

struct ActionBinding {
    i32 action;
    i16 code; // -1 matches every code
    i16 modifier1; // key codes that must be held; 0: none
    i16 modifier2;
    i8 eventType;

    bool operator==(const ActionBinding&) const = default;
};

struct StateBinding {
    i32 state;
    i16 code;
    i8 eventClass;

    bool operator==(const StateBinding&) const = default;
};

struct AxisBinding {
    i32 axis;
    i16 source; // pointer and wheel: 0 the code field, else the value field; sticks: the mapped axis
    i8 eventClass; // 4 pointer and wheel, 8 controller axes
    bool resetEachFrame;
    bool wheel;

    bool operator==(const AxisBinding&) const = default;
};

struct StickVector {
    f32 x = 0.0f;
    f32 y = 0.0f;
};

class InputContext {
public:
    static constexpr u64 kArenaSize = 1024;

    InputContext();
    ~InputContext();
    InputContext(const InputContext&) = delete;
    InputContext& operator=(const InputContext&) = delete;

    // Each bind returns the context for chaining. A binding equal to an
    // existing one is not added again; the value array grows (zero-filled) to
    // hold the number. Negative numbers (the game's "Invalid") bind nothing.
    InputContext& bindAction(i32 action, u16 eventType, i32 code);
    InputContext& bindState(i32 state, u16 eventType, i32 code);
    InputContext& bindMouseAxis(i32 axis, i32 source, bool resetEachFrame);
    // Wheel axes are reset every frame.
    InputContext& bindMouseWheel(i32 axis, i32 source);
    InputContext& bindControllerAxis(i32 axis, i32 controllerAxis);

    // Zeroes the action counts and the axes bound with reset-each-frame.
    void clearFrameState();
    // Zeroes the held counters and the per-action modifier counters.
    void resetHeldStates();
    // Drops every binding and value and empties the arena.
    void clearBindings();

    // Applies one event to the bindings: actions, then states, then axes, each
    // in binding order.
    void applyEvent(const InputEvent& event);

    // Readers: 0 (or false) while disabled and for numbers beyond the arrays.
    i32 getActionCount(i32 action) const;
    bool isStateHeld(i32 state) const;
    i32 getAxisValue(i32 axis) const;
    // Axes 1 and 2 scaled to -1..1, shortened to unit length when longer;
    // (0, 0) while disabled or when shorter than 2^-23.
    StickVector getStickVector() const;

    // The three value arrays, for input recording and playback (no copies).
    InputArrays inputArrays() { return { &m_actionCounts, &m_heldCounters, &m_axisValues }; }

    const containers::Array& actionBindings() const { return m_actionBindings; }
    const containers::Array& stateBindings() const { return m_stateBindings; }
    const containers::Array& axisBindings() const { return m_axisBindings; }
    const containers::Array& actionCounts() const { return m_actionCounts; }
    const containers::Array& modifierCounters() const { return m_modifierCounters; }
    const containers::Array& heldCounters() const { return m_heldCounters; }
    const containers::Array& axisValues() const { return m_axisValues; }
    // The arena and its fallback, for owners that check where the arrays live.
    const memory::FallbackAllocator& allocator() const { return m_allocator; }

    const char* name = ""; // not owned
    u32 deviceMask = ~0u; // bit d admits device d (mod 32)
    bool enabled = true;

private:
    void applyActions(const InputEvent& event);
    void applyStates(const InputEvent& event);
    void applyAxes(const InputEvent& event);
    void addAxisBinding(i32 axis, i32 source, i8 eventClass, bool resetEachFrame, bool wheel);

    alignas(16) u8 m_arena[kArenaSize];
    memory::FallbackAllocator m_allocator;
    containers::Array m_actionBindings;
    containers::Array m_actionCounts; // i32 per action
    containers::Array m_modifierCounters; // i8 per action
    containers::Array m_stateBindings;
    containers::Array m_heldCounters; // i8 per state
    containers::Array m_axisBindings;
    containers::Array m_axisValues; // i32 per axis
    // Which event types the action bindings name, which event classes the
    // state and axis bindings name.
    u32 m_actionTypes = 0;
    u32 m_stateClasses = 0;
    u32 m_axisClasses = 0;
};

} // namespace quern::input
