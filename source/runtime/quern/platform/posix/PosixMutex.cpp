#include "quern/debug/MutexImpl.h"
#include "quern/platform/ErrorReporting.h"

#include <new>
#include <pthread.h>

namespace quern::debug {
namespace {
pthread_mutex_t* native(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }
static_assert(sizeof(pthread_mutex_t) <= 64);
// Pauses between two looks at a held lock, at most.
constexpr u32 kMaxBackoff = 1024;
} // namespace

MutexImpl::MutexImpl()
    : MutexImpl(Spin::Eager)
{
}

MutexImpl::MutexImpl(Spin spin)
    : m_spin(spin)
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
    if (m_spin == Spin::Eager) {
        for (u32 spin = 0; spin < kSpinCount; ++spin) {
            if (pthread_mutex_trylock(native(m_storage)) == 0)
                return;
            __builtin_ia32_pause();
        }
    } else {
        // The first attempt also serves the owner locking again. Then the
        // lock word is read, and tried only when it looks free: a failed try
        // is a write that pulls the line away from the holder.
        if (pthread_mutex_trylock(native(m_storage)) == 0)
            return;
        u32 backoff = 1;
        for (u32 spin = 1; spin < kSpinCount; spin += backoff) {
            for (u32 k = 0; k < backoff; ++k)
                __builtin_ia32_pause();
            if (backoff < kMaxBackoff)
                backoff *= 2;
            if (__atomic_load_n(&native(m_storage)->__data.__lock, __ATOMIC_RELAXED) == 0
                && pthread_mutex_trylock(native(m_storage)) == 0)
                return;
        }
    }
    if (pthread_mutex_lock(native(m_storage)) != 0)
        QUERN_FATAL("MutexImpl lock() failed");
}

void MutexImpl::unlock() { pthread_mutex_unlock(native(m_storage)); }

bool MutexImpl::tryLock() { return pthread_mutex_trylock(native(m_storage)) == 0; }

} // namespace quern::debug
