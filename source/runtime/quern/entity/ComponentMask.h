#pragma once
// A set of component types: bit t (byte t / 8, bit t % 8, least significant
// first) stands for type t. Stored as two little-endian words, which gives that
// byte layout in memory, so level files and snapshots can copy the 16 bytes.

#include "quern/Types.h"

#include <bit>

namespace quern::entity {

static_assert(std::endian::native == std::endian::little, "ComponentMask relies on little-endian word order");

inline constexpr u32 kMaxComponentTypes = 128;

struct alignas(16) ComponentMask {
    u64 words[2] = { 0, 0 };

    constexpr bool test(u32 type) const { return (words[type >> 6] >> (type & 63)) & 1u; }
    constexpr void set(u32 type) { words[type >> 6] |= u64 { 1 } << (type & 63); }
    constexpr void reset(u32 type) { words[type >> 6] &= ~(u64 { 1 } << (type & 63)); }
    constexpr void clear() { words[0] = words[1] = 0; }
    constexpr bool isEmpty() const { return (words[0] | words[1]) == 0; }
    // True when every type of `required` is present: what a system asks of an entity.
    constexpr bool containsAll(const ComponentMask& required) const
    {
        return (words[0] & required.words[0]) == required.words[0] && (words[1] & required.words[1]) == required.words[1];
    }

    friend constexpr bool operator==(const ComponentMask& a, const ComponentMask& b)
    {
        return a.words[0] == b.words[0] && a.words[1] == b.words[1];
    }
};

static_assert(sizeof(ComponentMask) == 16);

} // namespace quern::entity
