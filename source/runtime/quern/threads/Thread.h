#pragma once
// One engine thread: a record that is created suspended, started with the object
// it runs, and joined. Creation, start and join failures are fatal.

#include "quern/Types.h"
#include "quern/platform/Thread.h"

namespace quern::threads {

// What a thread runs; the result of `run` is the thread's exit code.
class Runnable {
public:
    virtual ~Runnable() = default;
    virtual u32 run() = 0;
};

class Thread {
public:
    enum State : i32 {
        NotCreated = 0,
        Suspended = 1, // created and not started yet, or joined
        Started = 2,
    };

    Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Makes the suspended thread (name may be null). Fatal "Thread creation failed".
    void create(const char* name);
    // Stores the runnable and lets the thread go; false when it could not start.
    bool start(Runnable* runnable);
    // Waits for a started thread to end; then the state is Suspended.
    // Fatal "Thread join failed" when the wait fails.
    void join();
    // Forgets everything (the thread must not be running).
    void clear();

    bool hasHandle() const { return m_native.isCreated(); }
    // Started and still running its runnable.
    bool isRunning() const { return m_native.isActive(); }
    // The thread has ended (or never ran) but was not joined yet.
    bool needsJoin() const { return m_native.isJoinable(); }
    State state() const { return m_state; }
    Runnable* runnable() const { return m_runnable; }
    const char* name() const { return m_name; }
    u32 id() const { return m_id; }
    u32 exitCode() const { return m_native.exitCode(); }

private:
    static u32 entry(void* record);

    platform::NativeThread m_native;
    Runnable* m_runnable = nullptr;
    const char* m_name = nullptr;
    u32 m_id = 0;
    State m_state = NotCreated;
};

} // namespace quern::threads
