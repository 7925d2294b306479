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

// Calls visit(type) for every type of the mask the world has, in ascending order.
template <class Visit> void forEachType(const World& world, const quern::entity::ComponentMask& mask, Visit&& visit)
{
    for (u32 word = 0; word < 2; ++word) {
        for (u64 bits = mask.words[word]; bits != 0; bits &= bits - 1) {
            const u32 type = word * 64 + static_cast<u32>(std::countr_zero(bits));
            if (type >= world.componentTypeCount)
                return;
            visit(type);
        }
    }
}

// For entities too large to gather: the records one after the other.
u32 streamedChecksum(World& world, u64 slot)
{
    u32 crc = 0;
    forEachType(world, world.getComponentMask(slot), [&](u32 type) {
        crc = quern::strings::crc32Append(crc, world.getComponent(slot, type), world.componentSizes[type]);
    });
    return crc;
}

} // namespace

u32 SanityChecksumSystem::zeroRunChecksum(u64 length)
{
    if (!m_zeroRunKnown[length]) {
        alignas(64) static constexpr u8 kZeros[kGatherBytes] = {};
        m_zeroRuns[length] = quern::strings::crc32(kZeros, length);
        m_zeroRunKnown[length] = true;
    }
    return m_zeroRuns[length];
}

u32 SanityChecksumSystem::entityChecksum(World& world, u64 slot)
{
    const quern::entity::ComponentMask& mask = world.getComponentMask(slot);
    u64 length = 0;
    forEachType(world, mask, [&](u32 type) { length += world.componentSizes[type]; });
    const u64 padded = (length + 63) & ~u64 { 63 };
    if (padded > kGatherBytes)
        return streamedChecksum(world, slot);
    // Checksummed in whole 64-byte blocks, the quickest way through, with no
    // byte-by-byte tail: leading zeros leave a register that starts at zero
    // as it is, and the all-ones start adds what it adds to a run of zeros as
    // long as the records.
    alignas(64) u8 gathered[kGatherBytes];
    u8* at = gathered + (padded - length);
    std::memset(gathered, 0, padded - length);
    forEachType(world, mask, [&](u32 type) {
        std::memcpy(at, world.getComponent(slot, type), world.componentSizes[type]);
        at += world.componentSizes[type];
    });
    return ~(quern::strings::crc32Append(0xffffffffu, gathered, padded) ^ zeroRunChecksum(length));
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
        checksums[i] = dormancy(world, i, known.dataAs<u8>()) == kDormant ? entityChecksum(world, i) : 0;
}

} // namespace harmonize
