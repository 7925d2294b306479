#include "quern/threads/Thread.h"

#include "quern/platform/ErrorReporting.h"

#include <new>

namespace quern::threads {

u32 Thread::entry(void* record)
{
    Thread& thread = *static_cast<Thread*>(record);
    return thread.m_runnable ? thread.m_runnable->run() : 0;
}

void Thread::create(const char* name)
{
    if (!m_native.create(&Thread::entry, this, name))
        QUERN_FATAL("Thread creation failed");
    m_id = m_native.id();
    m_name = name;
    m_state = Suspended;
}

bool Thread::start(Runnable* runnable)
{
    m_runnable = runnable;
    if (!m_native.resume())
        return false;
    m_state = Started;
    return true;
}

void Thread::join()
{
    if (m_native.isJoinable()) {
        if (!m_native.join())
            QUERN_FATAL("Thread join failed");
        m_runnable = nullptr;
    }
    if (m_state != NotCreated)
        m_state = Suspended;
}

void Thread::clear()
{
    join();
    m_native.~NativeThread();
    new (&m_native) platform::NativeThread();
    m_runnable = nullptr;
    m_name = nullptr;
    m_id = 0;
    m_state = NotCreated;
}

} // namespace quern::threads
