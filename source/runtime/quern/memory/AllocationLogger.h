#pragma once
// Wraps an allocator and records every allocation and free, either into a file
// (text lines or binary records, reopened for each record so nothing is lost
// when the process dies) or as lines of the engine log.

#include "quern/debug/MutexImpl.h"
#include "quern/memory/Allocator.h"

#include <atomic>

namespace quern::memory {

class AllocationLogger : public Allocator {
public:
    static constexpr i32 kTextMode = 1;
    static constexpr i32 kBinaryMode = 0;

    // `fileName` null: records go to the log (with a stack trace each when
    // `stackTraces` is set). The name is kept, not copied.
    AllocationLogger(Allocator* wrapped, const char* fileName, i32 mode, bool stackTraces = false);
    AllocationLogger(const AllocationLogger&) = delete;
    AllocationLogger& operator=(const AllocationLogger&) = delete;

    void* allocate(u64 size, u64 alignment) override;
    void free(void* pointer) override;
    void* tryResize(void* pointer, u64 newSize) override;

    Allocator* wrapped() const { return m_wrapped; }
    const char* fileName() const { return m_fileName; }
    u64 liveAllocations() const { return m_liveAllocations; }
    u64 totalAllocations() const { return m_totalAllocations; }

protected:
    // Notifications for subclasses that watch the traffic.
    virtual void onAllocated(u64 size, u64 alignment, void* result);
    virtual void onFreeing(void* pointer);
    virtual void onResized(void* result, u64 newSize);

    virtual void* wrappedAllocate(u64 size, u64 alignment);
    virtual void wrappedFree(void* pointer);
    virtual void* wrappedTryResize(void* pointer, u64 newSize);

private:
    void writeRecord(const void* data, u64 length, bool truncate);
    void writeText(bool truncate, const char* format, ...) __attribute__((format(printf, 3, 4)));

    Allocator* m_wrapped;
    std::atomic<u64> m_liveAllocations{0};
    std::atomic<u64> m_totalAllocations{0};
    const char* m_fileName;
    i32 m_mode;
    bool m_stackTraces;
    bool m_openFailureReported = false;
    // Keeps the request and result records of one allocation together in the
    // file when several threads allocate.
    debug::MutexImpl m_mutex;
};

} // namespace quern::memory
