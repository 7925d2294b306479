#include "harmonize/systems/SanityChecksumSystem.h"

#include "harmonize/components/TransformChain.h"

#include "quern/entity/World.h"
#include "quern/strings/Hashes.h"

#include <bit>
#include <cstring>

namespace harmonize {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::entity::World;

namespace {

enum Dormancy : u8 {
    kUnknown = 0,
    kDormant = 1,
    kAwake = 2,
};

// The slot's own part of the test; its parents decide the rest.
bool mayBeDormant(World& world, u64 slot)
{
    return world.getEnabledMask(slot).isEmpty() && !world.getComponentMask(slot).isEmpty()
        && world.getState(slot) != quern::entity::EntityState::Active;
}

quern::i64 parentSlot(World& world, u64 slot)
{
    return linkedSlot(transformRecord(world, slot).parent, world.getSlotCount());
}

// Dormant: the slot and every parent up to a root may be. A parent that names
// no slot of the world ends the chain like a root; a chain longer than the
// world has slots can only be a parent cycle, which has no root and so no
// dormant member. The slots a walk passes share its answer, so each is kept
// and later walks stop where an earlier one passed.
u8 dormancy(World& world, u64 slot, u8* known)
{
    const u64 slots = world.getSlotCount();
    u8 answer = kAwake;
    u64 walked = 0; // slots passed that share the answer
    for (u64 current = slot; walked <= slots; ++walked) {
        if (known[current] != kUnknown) {
            answer = known[current];
            break;
        }
        if (!mayBeDormant(world, current)) {
            known[current] = kAwake;
            break;
        }
        const quern::i64 parent = parentSlot(world, current);
        if (parent < 0) {
            answer = kDormant;
            ++walked;
            break;
        }
        current = static_cast<u64>(parent);
    }
    u64 current = slot;
    for (u64 i = 0; i < walked; ++i) {
        known[current] = answer;
        const quern::i64 parent = parentSlot(world, current);
        if (parent < 0)
            break;
        current = static_cast<u64>(parent);
    }
    return known[slot];
}

} // namespace

u32 componentChecksum(World& world, u64 slot)
{
    // Small records are gathered and checksummed in one pass: one long run is
    // far quicker than many short ones.
    constexpr u64 kGather = 4096;
    alignas(16) u8 gathered[kGather];
    u64 used = 0;
    u32 crc = 0;
    const quern::entity::ComponentMask& mask = world.getComponentMask(slot);
    for (u32 word = 0; word < 2; ++word) {
        for (u64 bits = mask.words[word]; bits != 0; bits &= bits - 1) {
            const u32 type = word * 64 + static_cast<u32>(std::countr_zero(bits));
            if (type >= world.componentTypeCount)
                break;
            const u64 size = world.componentSizes[type];
            if (used + size > kGather) {
                crc = quern::strings::crc32Append(crc, gathered, used);
                used = 0;
            }
            const void* bytes = world.getComponent(slot, type);
            if (size > kGather) {
                crc = quern::strings::crc32Append(crc, bytes, size);
                continue;
            }
            std::memcpy(gathered + used, bytes, size);
            used += size;
        }
    }
    return quern::strings::crc32Append(crc, gathered, used);
}

SanityChecksumSystem::~SanityChecksumSystem() { m_checksums.release(); }

void SanityChecksumSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    const u64 slots = world.getSlotCount();
    m_checksums.clear();
    u32* checksums = static_cast<u32*>(m_checksums.expand(slots));
    quern::containers::Array known(slots, 1, 1, nullptr);
    if (slots)
        std::memset(known.data(), kUnknown, slots);
    for (u64 i = 0; i < slots; ++i)
        checksums[i] = dormancy(world, i, known.dataAs<u8>()) == kDormant ? componentChecksum(world, i) : 0;
}

} // namespace harmonize
