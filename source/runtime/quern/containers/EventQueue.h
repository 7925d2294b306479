#pragma once
// A ring buffer of variable-size typed records, read in place by the consumer.
// Each record is an 8-byte header followed by its payload, padded to 4 bytes;
// a header of type 0xffff marks the point where the ring wraps to its start.
// The queue takes no lock: an owner that shares it between threads guards it.

#include "quern/Types.h"
#include "quern/memory/Allocator.h"

namespace quern::containers {

struct EventHeader {
    u32 payloadSize;
    u16 type;
    u16 unused;
};
static_assert(sizeof(EventHeader) == 8);

inline constexpr u16 kEventWrapMarker = 0xffff;

class EventQueue {
public:
    // An empty queue with no ring; `reserve` gives it one. A null allocator
    // becomes the process default allocator then.
    explicit EventQueue(memory::Allocator* allocator = nullptr);
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Appends a record and returns the place of its payload, which the caller
    // fills; null when the ring has no room for it.
    void* push(u16 type, u64 payloadSize);
    // The same, but a full ring first grows by max(capacity, 4 x payload size),
    // as often as it takes, so the record is never lost.
    void* pushGrowing(u16 type, u64 payloadSize);
    // Resizes the ring to `newCapacity` bytes, keeping every queued record in order.
    void reserve(u64 newCapacity);

    bool isEmpty() const { return m_head == nullptr; }
    // The oldest record, null when the queue is empty.
    EventHeader* front() const { return m_head; }
    static void* payload(EventHeader* record) { return record + 1; }
    // Drops the oldest record; popping the last one resets the ring.
    void pop();

    u64 capacity() const { return m_capacity; }
    const u8* buffer() const { return m_buffer; }
    memory::Allocator* allocator() const { return m_allocator; }

private:
    u64 offsetOf(const EventHeader* record) const;
    EventHeader* recordAt(u64 offset) const;
    u64 nextOffset(const EventHeader* record) const;
    EventHeader* write(u64 offset, u16 type, u64 payloadSize);
    u64 findWrapOffset(u64& lastOlder) const;
    void moveToNewRing(u64 newCapacity);

    EventHeader* m_head = nullptr;
    EventHeader* m_tail = nullptr;
    memory::Allocator* m_allocator = nullptr;
    u8* m_buffer = nullptr;
    u64 m_capacity = 0;
};

} // namespace quern::containers
