#include "quern/debug/MutexImpl.h"
#include "quern/platform/ErrorReporting.h"

#include <new>
#include <pthread.h>

namespace quern::debug {
namespace {
pthread_mutex_t* native(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }
static_assert(sizeof(pthread_mutex_t) <= 64);
} // namespace

MutexImpl::MutexImpl()
{
    pthread_mutexattr_t attributes;
    bool ok = pthread_mutexattr_init(&attributes) == 0
        && pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0;
    ok = ok && pthread_mutex_init(new (m_storage) pthread_mutex_t, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    if (!ok)
        QUERN_FATAL("MutexImpl init() failed");
}

MutexImpl::~MutexImpl() { pthread_mutex_destroy(native(m_storage)); }

void MutexImpl::lock()
{
    // A short wait is cheaper spun than slept; a long one blocks in the kernel.
    // The pauses between tries grow, so that waiting threads do not keep
    // taking the lock's cache line away from the thread that holds it.
    u32 pauses = 1;
    for (u32 spun = 0; spun < kSpinCount; spun += pauses) {
        if (pthread_mutex_trylock(native(m_storage)) == 0)
            return;
        for (u32 i = 0; i < pauses; ++i)
            __builtin_ia32_pause();
        if (pauses < 512)
            pauses *= 2;
    }
    if (pthread_mutex_lock(native(m_storage)) != 0)
        QUERN_FATAL("MutexImpl lock() failed");
}

void MutexImpl::unlock() { pthread_mutex_unlock(native(m_storage)); }

bool MutexImpl::tryLock() { return pthread_mutex_trylock(native(m_storage)) == 0; }

} // namespace quern::debug
