#include "quern/platform/Thread.h"

#include "quern/platform/CrashHandler.h"

#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace quern::platform {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(u64));

std::atomic<u32> g_nextThreadId { 1 };

pthread_t toPthread(u64 handle)
{
    pthread_t thread;
    std::memcpy(&thread, &handle, sizeof(thread));
    return thread;
}

u64 fromPthread(pthread_t thread)
{
    u64 handle = 0;
    std::memcpy(&handle, &thread, sizeof(thread));
    return handle;
}

void copyName(char* destination, const char* source)
{
    std::size_t length = source ? std::strlen(source) : 0;
    if (length > NativeThread::kMaxNameLength)
        length = NativeThread::kMaxNameLength;
    if (length)
        std::memcpy(destination, source, length);
    destination[length] = '\0';
}

} // namespace

NativeThread::~NativeThread()
{
    if (isJoinable())
        join();
}

bool NativeThread::isJoinable() const
{
    const Status status = m_status.load(std::memory_order_acquire);
    return status == Status::Running || status == Status::Finished;
}

bool NativeThread::create(Entry entry, void* argument, const char* name)
{
    if (isJoinable())
        return false;
    m_entry = entry;
    m_argument = argument;
    m_exitCode = 0;
    m_handle = 0;
    copyName(m_name, name);
    m_id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    m_status.store(Status::Suspended, std::memory_order_release);
    return true;
}

void* NativeThread::trampoline(void* record)
{
    NativeThread& thread = *static_cast<NativeThread*>(record);
    // A stack overflow on this thread must still reach the crash handler.
    installCrashHandlerForThread();
    if (thread.m_name[0])
        setCurrentThreadName(thread.m_name);
    const u32 exitCode = thread.m_entry(thread.m_argument);
    removeCrashHandlerForThread();
    thread.m_exitCode = exitCode;
    thread.m_status.store(Status::Finished, std::memory_order_release);
    return nullptr;
}

bool NativeThread::resume()
{
    if (m_status.load(std::memory_order_acquire) != Status::Suspended || !m_entry)
        return false;
    // Running is stored first so that the thread's own Finished cannot be overwritten.
    m_status.store(Status::Running, std::memory_order_release);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &NativeThread::trampoline, this) != 0) {
        m_status.store(Status::Suspended, std::memory_order_release);
        return false;
    }
    m_handle = fromPthread(thread);
    return true;
}

bool NativeThread::join()
{
    if (!isJoinable())
        return false;
    if (pthread_join(toPthread(m_handle), nullptr) != 0)
        return false;
    m_status.store(Status::Joined, std::memory_order_release);
    return true;
}

void setCurrentThreadName(const char* name)
{
    char cut[NativeThread::kMaxNameLength + 1];
    copyName(cut, name);
    pthread_setname_np(pthread_self(), cut);
}

void getCurrentThreadName(char* buffer, u32 capacity)
{
    if (!buffer || capacity == 0)
        return;
    char name[NativeThread::kMaxNameLength + 1] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    std::strncpy(buffer, name, capacity - 1);
    buffer[capacity - 1] = '\0';
}

void yieldThread() { sched_yield(); }

void sleepMilliseconds(u32 milliseconds)
{
    timespec remaining { static_cast<time_t>(milliseconds / 1000),
        static_cast<long>(milliseconds % 1000) * 1'000'000L };
    while (nanosleep(&remaining, &remaining) != 0) { }
}

} // namespace quern::platform
