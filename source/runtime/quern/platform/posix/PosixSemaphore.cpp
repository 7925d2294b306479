#include "quern/platform/Semaphore.h"

#include "quern/platform/ErrorReporting.h"

#include <new>
#include <pthread.h>

namespace quern::platform {
namespace {

struct Native {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
};
static_assert(sizeof(Native) <= 128);

Native& native(unsigned char* storage) { return *std::launder(reinterpret_cast<Native*>(storage)); }

} // namespace

Semaphore::Semaphore(i32 initialCount, i32 maximumCount) : m_count(initialCount), m_maximum(maximumCount)
{
    if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount)
        QUERN_FATAL("Invalid semaphore count");
    Native* objects = new (m_storage) Native;
    if (pthread_mutex_init(&objects->mutex, nullptr) != 0)
        QUERN_FATAL("Semaphore creation failed");
    if (pthread_cond_init(&objects->condition, nullptr) != 0)
        QUERN_FATAL("Semaphore creation failed");
}

Semaphore::~Semaphore()
{
    Native& objects = native(m_storage);
    pthread_cond_destroy(&objects.condition);
    pthread_mutex_destroy(&objects.mutex);
}

bool Semaphore::release(i32 count)
{
    if (count <= 0)
        return false;
    Native& objects = native(m_storage);
    pthread_mutex_lock(&objects.mutex);
    const i32 room = m_maximum - m_count;
    const i32 added = count < room ? count : room;
    m_count += added;
    // Signalled under the lock: a waiter that wakes may destroy the semaphore at once.
    if (added == 1)
        pthread_cond_signal(&objects.condition);
    else if (added > 1)
        pthread_cond_broadcast(&objects.condition);
    pthread_mutex_unlock(&objects.mutex);
    return added == count;
}

void Semaphore::wait()
{
    Native& objects = native(m_storage);
    pthread_mutex_lock(&objects.mutex);
    while (m_count == 0)
        pthread_cond_wait(&objects.condition, &objects.mutex);
    --m_count;
    pthread_mutex_unlock(&objects.mutex);
}

bool Semaphore::tryWait()
{
    Native& objects = native(m_storage);
    pthread_mutex_lock(&objects.mutex);
    const bool taken = m_count > 0;
    if (taken)
        --m_count;
    pthread_mutex_unlock(&objects.mutex);
    return taken;
}

} // namespace quern::platform
