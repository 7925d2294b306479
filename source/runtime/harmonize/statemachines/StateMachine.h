#pragma once
// The gameplay state machines are records of three 32-bit integers: the
// state, the state before the last change, and a changed flag that the
// owning system reads and clears between its stages. The records live in
// stored components, so they stay plain arrays.
#include "quern/Types.h"

namespace harmonize {

using StateMachine = quern::i32[3];

inline constexpr int kMachineState = 0;
inline constexpr int kMachinePrevious = 1;
inline constexpr int kMachineChanged = 2;

inline void resetMachine(StateMachine& machine, quern::i32 state, quern::i32 previous)
{
    machine[kMachineState] = state;
    machine[kMachinePrevious] = previous;
    machine[kMachineChanged] = 0;
}

// A transition to the current state changes nothing, not even the flag.
inline void transition(StateMachine& machine, quern::i32 to)
{
    if (machine[kMachineState] == to)
        return;
    machine[kMachinePrevious] = machine[kMachineState];
    machine[kMachineState] = to;
    machine[kMachineChanged] = 1;
}

// Reads and clears the changed flag.
inline bool takeChanged(StateMachine& machine)
{
    const bool changed = machine[kMachineChanged] != 0;
    machine[kMachineChanged] = 0;
    return changed;
}

} // namespace harmonize
