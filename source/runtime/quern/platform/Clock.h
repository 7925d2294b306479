#pragma once
// The performance counter: a monotonic tick count at a fixed frequency. Everything
// that measures time reads it through one replaceable source, so tests can drive
// time by hand instead of sleeping.

#include "quern/Types.h"

#include <atomic>

namespace quern::platform {

// Ticks per second of the performance counter (10 MHz: one tick is 100 ns).
inline constexpr u64 kPerformanceFrequency = 10'000'000;

// Where the counter comes from. The default source is the system's monotonic clock.
class CounterSource {
public:
    virtual ~CounterSource() = default;
    virtual u64 read() = 0;
};

// A source that only moves when told to: for tests of code that measures time.
class ManualCounterSource final : public CounterSource {
public:
    explicit ManualCounterSource(u64 start = 0) : m_ticks(start) {}
    u64 read() override { return m_ticks.load(std::memory_order_acquire); }
    void set(u64 ticks) { m_ticks.store(ticks, std::memory_order_release); }
    void advance(u64 ticks) { m_ticks.fetch_add(ticks, std::memory_order_acq_rel); }
    void advanceSeconds(f64 seconds) { advance(static_cast<u64>(seconds * static_cast<f64>(kPerformanceFrequency))); }

private:
    std::atomic<u64> m_ticks;
};

// The current counter value, in ticks of kPerformanceFrequency.
u64 getPerformanceCounter();
u64 getPerformanceFrequency();

// The system's monotonic clock in counter ticks, whatever source is installed.
u64 readMonotonicCounter();

// Installs a source (null restores the monotonic clock) and returns the previous
// one (null when it was the monotonic clock). The caller keeps the source alive
// while it is installed.
CounterSource* setPerformanceCounterSource(CounterSource* source);

// Installs a source for the lifetime of the object and puts the previous one back.
class ScopedCounterSource {
public:
    explicit ScopedCounterSource(CounterSource& source) : m_previous(setPerformanceCounterSource(&source)) {}
    ~ScopedCounterSource() { setPerformanceCounterSource(m_previous); }
    ScopedCounterSource(const ScopedCounterSource&) = delete;
    ScopedCounterSource& operator=(const ScopedCounterSource&) = delete;

private:
    CounterSource* m_previous;
};

// Calendar time: whole seconds since 1970 (UTC), for random seeds and time
// stamps. It comes from one replaceable source too, so tests can fix it.
class CalendarSource {
public:
    virtual ~CalendarSource() = default;
    virtual u64 seconds() = 0;
};

// The current calendar time in seconds since 1970.
u64 getCalendarSeconds();

// Installs a source (null restores the system's calendar) and returns the
// previous one; the caller keeps the source alive while it is installed.
CalendarSource* setCalendarSource(CalendarSource* source);

// A calendar that shows one fixed time until it is set again.
class FixedCalendarSource final : public CalendarSource {
public:
    explicit FixedCalendarSource(u64 seconds = 0) : m_seconds(seconds) {}
    u64 seconds() override { return m_seconds.load(std::memory_order_acquire); }
    void set(u64 seconds) { m_seconds.store(seconds, std::memory_order_release); }

private:
    std::atomic<u64> m_seconds;
};

// Installs a calendar for the lifetime of the object and puts the previous one back.
class ScopedCalendarSource {
public:
    explicit ScopedCalendarSource(CalendarSource& source) : m_previous(setCalendarSource(&source)) {}
    ~ScopedCalendarSource() { setCalendarSource(m_previous); }
    ScopedCalendarSource(const ScopedCalendarSource&) = delete;
    ScopedCalendarSource& operator=(const ScopedCalendarSource&) = delete;

private:
    CalendarSource* m_previous;
};

// Converts between counter ticks and seconds.
inline f64 ticksToSeconds(u64 ticks) { return static_cast<f64>(ticks) / static_cast<f64>(kPerformanceFrequency); }
inline u64 secondsToTicks(f64 seconds) { return static_cast<u64>(seconds * static_cast<f64>(kPerformanceFrequency)); }

} // namespace quern::platform
