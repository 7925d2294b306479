#pragma once
// The engine's one lock: re-entrant (the same thread may lock it again) and
// spinning a bounded number of attempts before it blocks.

#include "quern/Types.h"

namespace quern::debug {

class MutexImpl {
public:
    static constexpr u32 kSpinCount = 4000;

    MutexImpl();   // initialises; failure is fatal "MutexImpl init() failed"
    ~MutexImpl();
    MutexImpl(const MutexImpl&) = delete;
    MutexImpl& operator=(const MutexImpl&) = delete;

    void lock();
    void unlock();
    bool tryLock();

private:
    alignas(16) unsigned char m_storage[64];
};

class MutexLock {
public:
    explicit MutexLock(MutexImpl& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~MutexLock() { m_mutex.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    MutexImpl& m_mutex;
};

} // namespace quern::debug
