#pragma once
// A development check: at world start, the CRC-32 of the component bytes of
// every dormant entity (one that is inactive, has nothing enabled, and whose
// parents are all dormant too, as a level's prefab templates are), so that
// anything writing into a template later can be caught against it.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"

namespace harmonize {

class SanityChecksumSystem final : public quern::entity::System {
public:
    SanityChecksumSystem() = default;
    ~SanityChecksumSystem() override;

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;

    // u32 per slot: the entity's checksum when dormant, else 0.
    const quern::containers::Array& checksums() const { return m_checksums; }

private:
    static constexpr quern::u64 kGatherBytes = 4096;

    // The CRC-32 of the bytes of every component the slot has, type by type
    // in ascending order, each for its stored size.
    quern::u32 entityChecksum(quern::entity::World& world, quern::u64 slot);
    // The CRC-32 of `length` zero bytes; worked out once per length.
    quern::u32 zeroRunChecksum(quern::u64 length);

    quern::containers::Array m_checksums { sizeof(quern::u32), alignof(quern::u32) };
    quern::u32 m_zeroRuns[kGatherBytes + 1] = {};
    bool m_zeroRunKnown[kGatherBytes + 1] = {};
};

} // namespace harmonize
