#pragma once
// The engine's one lock: re-entrant (the same thread may lock it again) and
// spinning a bounded number of attempts before it blocks.

#include "quern/Types.h"

namespace quern::debug {

class MutexImpl {
public:
    static constexpr u32 kSpinCount = 4000;

    // How a thread that finds the mutex held spins before it blocks. Eager
    // tries again after every pause: the waiter gets the mutex as soon as it
    // is free. BackOff looks at the mutex less and less often: a holder that
    // locks again at once keeps the mutex and the data it guards in its own
    // cache, which multiplies throughput when many threads make very short
    // calls, at the price of fairness (a thread that polls in a loop can
    // starve the others), so it suits only locks that nobody polls.
    enum class Spin { Eager, BackOff };

    MutexImpl(); // initialises; failure is fatal "MutexImpl init() failed"
    explicit MutexImpl(Spin spin);
    ~MutexImpl();
    MutexImpl(const MutexImpl&) = delete;
    MutexImpl& operator=(const MutexImpl&) = delete;

    void lock();
    void unlock();
    bool tryLock();

private:
    alignas(16) unsigned char m_storage[64];
    Spin m_spin = Spin::Eager;
};

class MutexLock {
public:
    explicit MutexLock(MutexImpl& mutex)
        : m_mutex(mutex)
    {
        m_mutex.lock();
    }
    ~MutexLock() { m_mutex.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    MutexImpl& m_mutex;
};

} // namespace quern::debug
