#pragma once
// The locked queue of app events. Any thread posts; only the main loop takes
// events out, oldest first. Posts go into the posting ring under the queue's
// mutex. The main thread takes the whole posting ring at once, by exchanging
// it under the mutex for its own empty one, and reads its events from there
// without the lock: no post can grow or move the ring being read, and
// posters wait on the main thread once per batch instead of once per event.

#include "harmonize/utils/AppEventType.h"
#include "quern/containers/EventQueue.h"
#include "quern/debug/MutexImpl.h"

#include <cstring>

namespace harmonize {

class AppEventQueue {
public:
    // Two rings of the same capacity: one takes posts while the main thread reads the other.
    AppEventQueue(
        quern::debug::MutexImpl& mutex, quern::containers::EventQueue& posting, quern::containers::EventQueue& taken)
        : m_mutex(&mutex)
        , m_ring(&posting)
        , m_taken(&taken)
    {
    }

    // Pushes an event without payload. Null when the ring is full: the ring is
    // not grown for these, and the event is lost.
    void* post(u16 storedType);
    void* post(AppEventType type) { return post(storedTypeOf(type)); }

    // Pushes an event with its payload (zeroed when none is given). A full ring
    // is reported once through the soft assertion, named by the event, then
    // grows by max(capacity, 4 x payload size) and takes the event.
    void postEvent(AppEventType type, const void* payload, u32 payloadSize);
    // The same without the report: for events the shell puts back itself.
    void pushGrowing(AppEventType type, const void* payload, u32 payloadSize);

    void postLoadLevel(const LoadLevelEvent& event) { postEvent(AppEventType::LoadLevel, &event, sizeof event); }
    void postTestLevel(const LoadLevelEvent& event) { postEvent(AppEventType::TestLevel, &event, sizeof event); }
    void postShowMenu(const ShowMenuEvent& event) { postEvent(AppEventType::ShowMenu, &event, sizeof event); }
    void postMouseModeChange(const MouseModeChangeEvent& event)
    {
        postEvent(AppEventType::MouseModeChange, &event, sizeof event);
    }
    void postInputContextChanged(const InputContextChangedEvent& event)
    {
        postEvent(AppEventType::InputContextChanged, &event, sizeof event);
    }
    void postChangeDisplayResolution(const ChangeDisplayResolutionEvent& event)
    {
        postEvent(AppEventType::ChangeDisplayResolution, &event, sizeof event);
    }
    void postInputDeviceChanged(const InputDeviceChangedEvent& event)
    {
        postEvent(AppEventType::InputDeviceChanged, &event, sizeof event);
    }
    void postLoadingFinished(const LoadingFinishedEvent& event)
    {
        postEvent(AppEventType::LoadingFinished, &event, sizeof event);
    }

    // Main thread only.
    // The stored type of the oldest event, or -1 when the queue is empty.
    i32 frontStoredType();
    bool isEmpty() { return frontStoredType() < 0; }
    // Removes the oldest event; nothing when the queue is empty.
    void drop();
    // When the oldest event has this stored type: copies its payload into out
    // (bytes it does not carry read as zero), removes it and returns true.
    // Otherwise changes nothing.
    template <typename Payload> bool popByType(Payload& out, u16 storedType)
    {
        return popByType(&out, sizeof out, storedType);
    }
    bool popByType(void* out, u32 outSize, u16 storedType);

    quern::debug::MutexImpl& mutex() const { return *m_mutex; }
    // The capacity of the ring that takes posts now.
    u64 postingCapacity() const;

private:
    void* pushLocked(u16 storedType, const void* payload, u32 payloadSize);
    void growAndPushLocked(u16 storedType, const void* payload, u32 payloadSize);

    quern::debug::MutexImpl* m_mutex;
    quern::containers::EventQueue* m_ring; // posts go here, under the mutex
    quern::containers::EventQueue* m_taken; // the main thread reads from here
};

// The two rings, their mutex and the queue over them, as the App keeps them.
struct AppEventQueueStorage {
    static constexpr u64 kInitialCapacity = 4096;

    explicit AppEventQueueStorage(quern::memory::Allocator* allocator = nullptr, u64 capacity = kInitialCapacity)
        : rings { quern::containers::EventQueue(allocator), quern::containers::EventQueue(allocator) }
        , queue(mutex, rings[0], rings[1])
    {
        rings[0].reserve(capacity);
        rings[1].reserve(capacity);
    }

    // Many threads post short records and only the main thread drains, once a
    // frame: nobody polls this lock, so it backs off while spinning.
    quern::debug::MutexImpl mutex { quern::debug::MutexImpl::Spin::BackOff };
    quern::containers::EventQueue rings[2];
    AppEventQueue queue;
};

} // namespace harmonize
