#pragma once
// Counting semaphore with a maximum count: a release that would push the count
// past the maximum keeps only what fits (the rest of the release is dropped).

#include "quern/Types.h"

namespace quern::platform {

class Semaphore {
public:
    static constexpr i32 kLargestMaximum = 0x7fffffff;

    // A maximum below 1, or an initial count outside [0, maximum], is fatal
    // "Invalid semaphore count"; failing to make the native objects is fatal
    // "Semaphore creation failed".
    Semaphore(i32 initialCount, i32 maximumCount);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds `count` (at most up to the maximum) and wakes as many waiters.
    // False when part of the release was dropped or count is not positive.
    bool release(i32 count = 1);
    // Blocks until the count is positive, then takes one.
    void wait();
    // Takes one when the count is positive; never blocks.
    bool tryWait();
    i32 maximumCount() const { return m_maximum; }

private:
    alignas(16) unsigned char m_storage[128];
    i32 m_count;
    i32 m_maximum;
};

} // namespace quern::platform
