#include "quern/containers/EventQueue.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>
#include <algorithm>
#include <limits>

namespace quern::containers {
namespace {

constexpr u64 kHeaderSize = sizeof(EventHeader);

constexpr u64 alignUp4(u64 value) { return (value + 3) & ~u64{3}; }

// Bytes a record takes in the ring, up to where the next record may start.
constexpr u64 recordBytes(u64 payloadSize) { return alignUp4(kHeaderSize + payloadSize); }

} // namespace

// Every record ends at least one header short of the ring's end, so a wrap
// marker always fits after the newest record and no reader or writer ever
// touches a byte past the ring.

EventQueue::EventQueue(memory::Allocator* allocator) : m_allocator(allocator) {}

EventQueue::~EventQueue()
{
    if (m_buffer)
        m_allocator->free(m_buffer);
}

u64 EventQueue::offsetOf(const EventHeader* record) const
{
    return static_cast<u64>(reinterpret_cast<const u8*>(record) - m_buffer);
}

EventHeader* EventQueue::recordAt(u64 offset) const { return reinterpret_cast<EventHeader*>(m_buffer + offset); }

u64 EventQueue::nextOffset(const EventHeader* record) const
{
    return offsetOf(record) + recordBytes(record->payloadSize);
}

EventHeader* EventQueue::write(u64 offset, u16 type, u64 payloadSize)
{
    EventHeader* record = recordAt(offset);
    record->payloadSize = static_cast<u32>(payloadSize);
    record->type = type;
    record->unused = 0;
    return record;
}

void* EventQueue::pushGrowing(u16 type, u64 payloadSize)
{
    void* place = push(type, payloadSize);
    while (!place) {
        reserve(m_capacity + std::max<u64>(m_capacity, u64 { 4 } * payloadSize));
        place = push(type, payloadSize);
    }
    return place;
}

void* EventQueue::push(u16 type, u64 payloadSize)
{
    if (type == kEventWrapMarker)
        QUERN_FATAL("EventQueue type 0xffff is reserved for the wrap marker");
    if (payloadSize > std::numeric_limits<u32>::max() - kHeaderSize)
        return nullptr;
    const u64 bytes = recordBytes(payloadSize);

    u64 place = 0;
    if (!m_head) {
        if (bytes + kHeaderSize > m_capacity)
            return nullptr;
    } else {
        const u64 head = offsetOf(m_head);
        const u64 next = nextOffset(m_tail);
        if (m_tail < m_head) {
            // Wrapped: the newest records sit before the oldest one.
            if (next + bytes > head)
                return nullptr;
            place = next;
        } else if (next + bytes + kHeaderSize <= m_capacity) {
            place = next;
        } else {
            write(next, kEventWrapMarker, 0);
            if (bytes > head)
                return nullptr;
            place = 0;
        }
    }

    m_tail = write(place, type, payloadSize);
    if (!m_head)
        m_head = m_tail;
    return payload(m_tail);
}

void EventQueue::pop()
{
    if (!m_head)
        return;
    if (m_head == m_tail) {
        m_head = nullptr;
        m_tail = nullptr;
        return;
    }
    EventHeader* next = recordAt(nextOffset(m_head));
    m_head = next->type == kEventWrapMarker ? recordAt(0) : next;
}

// In a wrapped ring: the offset of the wrap marker, and in `lastOlder` the
// offset of the record just before it.
u64 EventQueue::findWrapOffset(u64& lastOlder) const
{
    u64 offset = offsetOf(m_head);
    for (;;) {
        const u64 next = nextOffset(recordAt(offset));
        if (next + kHeaderSize > m_capacity)
            QUERN_FATAL("EventQueue ring is corrupt");
        if (recordAt(next)->type == kEventWrapMarker) {
            lastOlder = offset;
            return next;
        }
        offset = next;
    }
}

void EventQueue::reserve(u64 newCapacity)
{
    if (newCapacity == m_capacity)
        return;
    if (!m_allocator)
        m_allocator = memory::getDefaultAllocator();
    if (!m_allocator)
        QUERN_FATAL("EventQueue used before the default allocator exists");

    const bool wrapped = m_head && m_tail < m_head;
    if (!wrapped && m_buffer && newCapacity != 0) {
        const u64 needed = m_head ? nextOffset(m_tail) + kHeaderSize : 0;
        if (needed <= newCapacity && m_allocator->tryResize(m_buffer, newCapacity)) {
            m_capacity = newCapacity;
            return;
        }
    }

    if (!m_head) {
        m_allocator->free(m_buffer);
        m_buffer = nullptr;
        m_capacity = 0;
        if (newCapacity == 0)
            return;
        m_buffer = static_cast<u8*>(m_allocator->allocate(newCapacity, 4));
        if (!m_buffer)
            QUERN_OUT_OF_MEMORY();
        m_capacity = newCapacity;
        return;
    }
    moveToNewRing(newCapacity);
}

// Copies the queued records, oldest first, to the start of a new ring. The
// older part of a wrapped ring ends where its wrap marker stood, so the newer
// part follows it directly and no marker remains.
void EventQueue::moveToNewRing(u64 newCapacity)
{
    const u64 head = offsetOf(m_head);
    const u64 tailEnd = nextOffset(m_tail);
    u64 olderEnd = tailEnd;
    u64 newerEnd = 0;
    if (m_tail < m_head) {
        u64 lastOlder = 0;
        olderEnd = findWrapOffset(lastOlder);
        newerEnd = tailEnd;
    }
    const u64 olderBytes = olderEnd - head;
    if (olderBytes + newerEnd + kHeaderSize > newCapacity)
        QUERN_FATAL("EventQueue::reserve capacity is too small for the queued events");

    auto* ring = static_cast<u8*>(m_allocator->allocate(newCapacity, 4));
    if (!ring)
        QUERN_OUT_OF_MEMORY();
    std::memcpy(ring, m_buffer + head, olderBytes);
    std::memcpy(ring + olderBytes, m_buffer, newerEnd);
    const u64 tail = m_tail < m_head ? olderBytes + offsetOf(m_tail) : offsetOf(m_tail) - head;

    m_allocator->free(m_buffer);
    m_buffer = ring;
    m_capacity = newCapacity;
    m_head = recordAt(0);
    m_tail = recordAt(tail);
}

} // namespace quern::containers
