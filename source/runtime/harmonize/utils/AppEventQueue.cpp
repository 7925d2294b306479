#include "harmonize/utils/AppEventQueue.h"

#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <utility>

namespace harmonize {

using quern::containers::EventHeader;
using quern::containers::EventQueue;
using quern::debug::MutexLock;

namespace {

// The payload as given, or zeros; nothing when there is no place.
void* fill(void* place, const void* payload, u32 payloadSize)
{
    if (place && payloadSize > 0) {
        if (payload)
            std::memcpy(place, payload, payloadSize);
        else
            std::memset(place, 0, payloadSize);
    }
    return place;
}

} // namespace

void* AppEventQueue::pushLocked(u16 storedType, const void* payload, u32 payloadSize)
{
    return fill(m_ring->push(storedType, payloadSize), payload, payloadSize);
}

void AppEventQueue::growAndPushLocked(u16 storedType, const void* payload, u32 payloadSize)
{
    fill(m_ring->pushGrowing(storedType, payloadSize), payload, payloadSize);
}

void* AppEventQueue::post(u16 storedType)
{
    MutexLock lock(*m_mutex);
    return pushLocked(storedType, nullptr, 0);
}

void AppEventQueue::postEvent(AppEventType type, const void* payload, u32 payloadSize)
{
    const u16 storedType = storedTypeOf(type);
    {
        MutexLock lock(*m_mutex);
        if (pushLocked(storedType, payload, payloadSize))
            return;
    }
    // Reported outside the lock: the hook may stop in the debugger, and posters
    // on other threads must not hang behind it.
    quern::debug::softAssert(toString(type), "", __FILE__, __LINE__);
    MutexLock lock(*m_mutex);
    growAndPushLocked(storedType, payload, payloadSize);
}

void AppEventQueue::pushGrowing(AppEventType type, const void* payload, u32 payloadSize)
{
    MutexLock lock(*m_mutex);
    growAndPushLocked(storedTypeOf(type), payload, payloadSize);
}

u64 AppEventQueue::postingCapacity() const
{
    MutexLock lock(*m_mutex);
    return m_ring->capacity();
}

i32 AppEventQueue::frontStoredType()
{
    if (m_taken->isEmpty()) {
        // Everything read so far is handled: take what was posted since.
        MutexLock lock(*m_mutex);
        std::swap(m_ring, m_taken);
    }
    const EventHeader* head = m_taken->front();
    return head ? i32 { head->type } : -1;
}

void AppEventQueue::drop()
{
    if (frontStoredType() >= 0)
        m_taken->pop();
}

bool AppEventQueue::popByType(void* out, u32 outSize, u16 storedType)
{
    if (frontStoredType() < 0)
        return false;
    EventHeader* head = m_taken->front();
    if (!head || head->type != storedType)
        return false;
    const u32 carried = std::min<u32>(outSize, head->payloadSize);
    std::memcpy(out, EventQueue::payload(head), carried);
    std::memset(static_cast<u8*>(out) + carried, 0, outSize - carried);
    m_taken->pop();
    return true;
}

} // namespace harmonize
