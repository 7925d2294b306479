#pragma once
// How a system walks the world it is handed: the dense array of a component
// type, typed once per call, and the runs of consecutive slots whose entity is
// active with every required component enabled. A system then runs a plain
// loop over each run, indexing the arrays by slot, instead of testing and
// addressing every component through the World one slot at a time.

#include "quern/Types.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/System.h"
#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::entity {

// The array of `type`: element s is slot s's component. T must have the
// type's byte size; the store keeps each array on a 4-byte boundary.
template <typename T> T* componentArray(const UpdateContext& context, u32 type)
{
    static_assert(alignof(T) <= 4, "component arrays are only 4-byte aligned");
    if (type >= context.world->componentTypeCount || context.world->componentSizes[type] != sizeof(T))
        QUERN_FATAL("Component array asked for with the wrong element type");
    return reinterpret_cast<T*>(context.store + context.world->componentOffsets[type]);
}

// Calls body(first, end) for every run [first, end) of slots that are Active
// and have all of `required` enabled, in slot order. Runs end where a slot
// does not match and at every 2,048 slots: the masks of one stretch are
// tested just before its components are used, while both are in cache.
template <typename Body> void forEachActiveRun(const UpdateContext& context, const ComponentMask& required, Body&& body)
{
    const EntityState* states = context.states;
    const ComponentMask* enabled = context.enabledMasks;
    const u64 slots = context.slotCount;
    const u64 low = required.words[0];
    const u64 high = required.words[1];
    auto matches = [&](u64 s) {
        return states[s] == EntityState::Active && (enabled[s].words[0] & low) == low
            && (enabled[s].words[1] & high) == high;
    };
    // Eight slots match together when their eight state bytes all say Active
    // and the AND of their masks holds every required bit: one test per eight
    // slots inside long runs, which is where a world's active entities sit.
    static_assert(sizeof(EntityState) == 1 && static_cast<u8>(EntityState::Active) == 3);
    constexpr u64 kAllActive = 0x0303030303030303ull;
    auto eightMatch = [&](u64 s) {
        u64 packed;
        std::memcpy(&packed, states + s, sizeof packed);
        u64 word0 = enabled[s].words[0], word1 = enabled[s].words[1];
        for (u64 k = 1; k < 8; ++k) {
            word0 &= enabled[s + k].words[0];
            word1 &= enabled[s + k].words[1];
        }
        return packed == kAllActive && (word0 & low) == low && (word1 & high) == high;
    };
    constexpr u64 kChunk = 2048;
    for (u64 chunk = 0; chunk < slots; chunk += kChunk) {
        const u64 last = chunk + kChunk < slots ? chunk + kChunk : slots;
        u64 s = chunk;
        while (s < last) {
            while (s < last && !matches(s))
                ++s;
            const u64 first = s;
            while (s + 8 <= last && eightMatch(s))
                s += 8;
            while (s < last && matches(s))
                ++s;
            if (first < s)
                body(first, s);
        }
    }
}

namespace detail {

// One run of slots. The arrays of distinct component types never overlap;
// saying so lets the compiler keep values in registers across the body's
// writes and pair up loads and stores, as it does for separately allocated
// arrays. Kept out of line: once inlined into the caller the promise is lost.
template <typename Body, typename... T>
__attribute__((noinline)) void forEachInRun(u64 first, u64 end, Body& body, T* __restrict... arrays)
{
    for (u64 s = first; s < end; ++s)
        body(arrays[s]...);
}

} // namespace detail

// Calls body(array[s]...) for every slot s that is Active with all of
// `required` enabled, in slot order, with the arrays of distinct component
// types (from componentArray). The arrays of one type passed twice would
// overlap: that is fatal.
template <typename Body, typename... T>
void forEachActive(const UpdateContext& context, const ComponentMask& required, Body&& body, T*... arrays)
{
    const void* addresses[] = { static_cast<const void*>(arrays)... };
    for (u64 i = 0; i < sizeof...(T); ++i)
        for (u64 k = i + 1; k < sizeof...(T); ++k)
            if (addresses[i] == addresses[k])
                QUERN_FATAL("Component array passed twice to one walk");
    forEachActiveRun(context, required, [&](u64 first, u64 end) { detail::forEachInRun(first, end, body, arrays...); });
}

} // namespace quern::entity
