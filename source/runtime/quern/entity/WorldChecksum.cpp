// Checksums and byte copies of enabled components: how a replay proves that the
// simulation repeated itself and finds the component that did not.

#include "quern/entity/World.h"
#include "quern/entity/WorldSnapshot.h"
#include "quern/strings/Hashes.h"

#include <bit>
#include <cstring>

namespace quern::entity {

namespace {

// Calls visit(type, bytes, size) for each enabled component of the slot in type order.
template <class Visit> void forEachEnabledComponent(const World& world, u64 slot, Visit&& visit)
{
    const ComponentMask& mask = world.enabledMasks.at<ComponentMask>(slot);
    for (u32 t = 0; t < world.componentTypeCount; ++t) {
        if (!mask.test(t))
            continue;
        const u64 size = world.componentSizes[t];
        const u8* bytes = world.store + world.componentOffsets[t] + size * slot;
        if (!visit(t, bytes, size))
            return;
    }
}

} // namespace

namespace {

// Enabled components are mostly short and scattered; the CRC runs far faster
// over long blocks, so pieces are gathered into one before they are hashed.
class ChecksumStage {
public:
    void add(const u8* bytes, u64 length)
    {
        if (length > sizeof m_buffer - m_used) {
            flush();
            if (length >= sizeof m_buffer) {
                m_crc = strings::crc32Append(m_crc, bytes, length);
                return;
            }
        }
        std::memcpy(m_buffer + m_used, bytes, length);
        m_used += length;
    }
    u32 finish()
    {
        flush();
        return m_crc;
    }

private:
    void flush()
    {
        m_crc = strings::crc32Append(m_crc, m_buffer, m_used);
        m_used = 0;
    }

    u8 m_buffer[8192];
    u64 m_used = 0;
    u32 m_crc = 0;
};

} // namespace

u32 World::worldChecksum() const
{
    if (componentTypeCount == 0 || !store)
        return 0;
    const u64 slotCount = getSlotCount();
    const ComponentMask* masks = enabledMasks.dataAs<ComponentMask>();
    ChecksumStage stage;
    for (u32 t = 0; t < componentTypeCount; ++t) {
        const u64 size = componentSizes[t];
        if (size == 0)
            continue;
        // A type's components lie back to back, so neighbouring enabled slots
        // are taken as one run. The type's bits of 64 slots at a time are
        // gathered into one word first: testing slot by slot branches on
        // every slot, and enabled bits are hard to predict.
        const u8* first = store + componentOffsets[t];
        const u32 word = t >> 6;
        const u32 shift = t & 63;
        u64 runStart = 0;
        u64 runLength = 0;
        for (u64 base = 0; base < slotCount; base += 64) {
            const u64 n = slotCount - base < 64 ? slotCount - base : 64;
            u64 bits = 0;
            for (u64 i = 0; i < n; ++i)
                bits |= ((masks[base + i].words[word] >> shift) & 1) << i;
            u64 i = 0;
            while (i < n) {
                const u64 rest = bits >> i;
                if (rest & 1) {
                    const u64 ones = ~rest == 0 ? 64 - i : static_cast<u64>(std::countr_zero(~rest));
                    const u64 length = ones < n - i ? ones : n - i;
                    if (runLength == 0)
                        runStart = base + i;
                    runLength += length;
                    i += length;
                } else {
                    if (runLength > 0) {
                        stage.add(first + runStart * size, runLength * size);
                        runLength = 0;
                    }
                    i += rest == 0 ? n - i : static_cast<u64>(std::countr_zero(rest));
                }
            }
        }
        if (runLength > 0)
            stage.add(first + runStart * size, runLength * size);
    }
    return stage.finish();
}

u32 World::entityChecksum(EntityHandle handle) const
{
    if (!isValid(handle))
        return 0;
    u32 crc = 0;
    forEachEnabledComponent(*this, handle.index(), [&](u32, const u8* bytes, u64 size) {
        crc = strings::crc32Append(crc, bytes, size);
        return true;
    });
    return crc;
}

u64 World::copyEntityComponents(EntityHandle handle, void* destination, u64 capacity) const
{
    if (!isValid(handle))
        return 0;
    u8* out = static_cast<u8*>(destination);
    u64 total = 0;
    forEachEnabledComponent(*this, handle.index(), [&](u32, const u8* bytes, u64 size) {
        total += size;
        if (capacity >= size) {
            std::memcpy(out, bytes, size);
            out += size;
            capacity -= size;
        }
        return true;
    });
    return total;
}

ComponentDifference World::compareEntityComponents(EntityHandle handle, const void* data, u64 size)
{
    ComponentDifference difference;
    if (!isValid(handle))
        return difference;
    const u8* copy = static_cast<const u8*>(data);
    u64 remaining = size;
    forEachEnabledComponent(*this, handle.index(), [&](u32 type, const u8* bytes, u64 componentSize) {
        if (componentSize > remaining)
            return true;
        for (u64 i = 0; i < componentSize; ++i) {
            if (bytes[i] != copy[i]) {
                difference.component = const_cast<u8*>(bytes);
                difference.data = copy;
                difference.byteIndex = static_cast<u32>(i);
                difference.type = static_cast<u8>(type);
                return false;
            }
        }
        copy += componentSize;
        remaining -= componentSize;
        return true;
    });
    return difference;
}

} // namespace quern::entity
