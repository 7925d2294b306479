#pragma once
// Operating-system threads. A thread is created suspended: the record exists and
// holds its entry, argument and name, and the system thread begins only when it
// is resumed. Every resumed thread is joined exactly once.

#include "quern/Types.h"

#include <atomic>

namespace quern::platform {

class NativeThread {
public:
    using Entry = u32 (*)(void* argument);
    // Longest name the system keeps; longer names are cut.
    static constexpr u32 kMaxNameLength = 15;

    NativeThread() = default;
    // Joins a thread that was resumed and not joined yet: the thread writes
    // its exit code into this record.
    ~NativeThread();
    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;

    // Records the entry, argument and name (null or empty: no name) and gives the
    // thread its id. False when a resumed thread has not been joined yet.
    bool create(Entry entry, void* argument, const char* name);
    // Starts the system thread of a created, suspended record. False when the
    // record is not suspended or the system refuses the thread.
    bool resume();
    // Waits for a resumed thread to end. False when there is nothing to join
    // (never resumed, or joined already).
    bool join();

    bool isCreated() const { return m_status.load(std::memory_order_acquire) != Status::None; }
    // Resumed and its entry has not returned yet.
    bool isActive() const { return m_status.load(std::memory_order_acquire) == Status::Running; }
    bool isJoinable() const;
    // The entry's result once it returned.
    u32 exitCode() const { return m_exitCode; }
    // Process-unique id given at creation (0 before).
    u32 id() const { return m_id; }
    const char* name() const { return m_name; }

private:
    enum class Status : u32 { None, Suspended, Running, Finished, Joined };
    static void* trampoline(void* record);

    u64 m_handle = 0;
    Entry m_entry = nullptr;
    void* m_argument = nullptr;
    std::atomic<Status> m_status{Status::None};
    u32 m_exitCode = 0;
    u32 m_id = 0;
    char m_name[kMaxNameLength + 1] = {};
};

// Names the calling thread (cut to kMaxNameLength characters).
void setCurrentThreadName(const char* name);
// Copies the calling thread's name into `buffer` (always terminated).
void getCurrentThreadName(char* buffer, u32 capacity);

// Gives up the processor to other ready threads.
void yieldThread();
// Blocks the calling thread for at least `milliseconds`.
void sleepMilliseconds(u32 milliseconds);
// A pause hint for spin loops.
inline void spinPause() { __builtin_ia32_pause(); }

} // namespace quern::platform
