#pragma once
// Pair rules look for one component on each entity of a contact. Contacts
// come in no particular order, so every lookup tries the pair both ways round.

#include "harmonize/events/GameEvents.h"

namespace harmonize {

// The records of `First` and `Second` on the pair, taken either way round;
// false when neither order has them.
template <class First, class Second>
bool findPair(quern::entity::World& world, const PairEvent& pair, First*& first, Second*& second)
{
    void* a = nullptr;
    void* b = nullptr;
    if (!findComponents(First::kType, Second::kType, world, pair.entityA, pair.entityB, &a, &b)
        && !findComponents(First::kType, Second::kType, world, pair.entityB, pair.entityA, &a, &b))
        return false;
    first = static_cast<First*>(a);
    second = static_cast<Second*>(b);
    return true;
}

// The same, giving the pair's two handles in the order that matched: the
// entity with `First`, then the one with `Second`.
template <class First, class Second>
bool orderPair(quern::entity::World& world, const PairEvent& pair, u32& first, u32& second)
{
    void* a = nullptr;
    void* b = nullptr;
    if (findComponents(First::kType, Second::kType, world, pair.entityA, pair.entityB, &a, &b)) {
        first = pair.entityA;
        second = pair.entityB;
        return true;
    }
    if (findComponents(First::kType, Second::kType, world, pair.entityB, pair.entityA, &a, &b)) {
        first = pair.entityB;
        second = pair.entityA;
        return true;
    }
    return false;
}

} // namespace harmonize
