#include "quern/memory/AllocationLogger.h"

#include "quern/debug/Log.h"
#include "quern/debug/StackTrace.h"
#include "quern/platform/ErrorReporting.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace quern::memory {
namespace {

// Logging may itself allocate through this logger; those nested requests pass
// straight through instead of recursing without end.
thread_local bool t_writingLog = false;

class WritingLog {
public:
    WritingLog() { t_writingLog = true; }
    ~WritingLog() { t_writingLog = false; }
};

} // namespace

AllocationLogger::AllocationLogger(Allocator* wrapped, const char* fileName, i32 mode, bool stackTraces)
    : m_wrapped(wrapped)
    , m_fileName(fileName)
    , m_mode(mode)
    , m_stackTraces(stackTraces)
{
}

void* AllocationLogger::allocate(u64 size, u64 alignment)
{
    if (m_fileName) {
        debug::MutexLock lock(m_mutex);
        const bool first = m_totalAllocations == 0;
        if (m_mode == kTextMode) {
            writeText(first, "Allocating %llu bytes, %llu bytes alignment", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(alignment));
        } else {
            unsigned char record[13];
            const u8 tag = 0;
            const u32 alignment32 = static_cast<u32>(alignment);
            std::memcpy(record, &tag, 1);
            std::memcpy(record + 1, &size, 8);
            std::memcpy(record + 9, &alignment32, 4);
            writeRecord(record, sizeof record, first);
        }
        void* result = wrappedAllocate(size, alignment);
        onAllocated(size, alignment, result);
        ++m_liveAllocations;
        ++m_totalAllocations;
        if (m_mode == kTextMode) {
            writeText(false, ": %p (#%llu)\n", result, static_cast<unsigned long long>(m_liveAllocations.load()));
        } else {
            const u64 address = reinterpret_cast<u64>(result);
            writeRecord(&address, sizeof address, false);
        }
        return result;
    }

    if (t_writingLog) {
        void* result = wrappedAllocate(size, alignment);
        onAllocated(size, alignment, result);
        ++m_liveAllocations;
        ++m_totalAllocations;
        return result;
    }
    WritingLog writing;
    if (m_totalAllocations == 0)
        QUERN_LOG(3) << "First allocation" << std::endl;
    QUERN_LOG(3) << "Allocating " << size << " bytes, " << alignment << " bytes alignment" << std::endl;
    if (m_stackTraces)
        debug::printStackTrace();
    void* result = wrappedAllocate(size, alignment);
    onAllocated(size, alignment, result);
    ++m_liveAllocations;
    ++m_totalAllocations;
    QUERN_LOG(3) << "Allocated pointer: " << result << std::endl;
    return result;
}

void AllocationLogger::free(void* pointer)
{
    if (m_fileName) {
        debug::MutexLock lock(m_mutex);
        if (pointer)
            --m_liveAllocations;
        if (m_mode == kTextMode) {
            writeText(false, "Deallocating %p (#%llu)\n", pointer, static_cast<unsigned long long>(m_liveAllocations.load()));
        } else {
            unsigned char record[9];
            const u8 tag = 1;
            const u64 address = reinterpret_cast<u64>(pointer);
            std::memcpy(record, &tag, 1);
            std::memcpy(record + 1, &address, 8);
            writeRecord(record, sizeof record, false);
        }
        onFreeing(pointer);
        wrappedFree(pointer);
        return;
    }
    const u64 live = pointer ? --m_liveAllocations : m_liveAllocations.load();
    if (t_writingLog) {
        onFreeing(pointer);
        wrappedFree(pointer);
        return;
    }
    WritingLog writing;
    QUERN_LOG(3) << "Deallocating " << pointer << std::endl;
    if (m_stackTraces)
        debug::printStackTrace();
    onFreeing(pointer);
    wrappedFree(pointer);
    if (pointer && live == 0)
        QUERN_LOG(3) << "All memory was freed" << std::endl;
}

void* AllocationLogger::tryResize(void* pointer, u64 newSize)
{
    void* result = wrappedTryResize(pointer, newSize);
    if (result)
        onResized(result, newSize);
    return result;
}

void AllocationLogger::onAllocated(u64, u64, void*) {}
void AllocationLogger::onFreeing(void*) {}
void AllocationLogger::onResized(void*, u64) {}

void* AllocationLogger::wrappedAllocate(u64 size, u64 alignment) { return m_wrapped->allocate(size, alignment); }
void AllocationLogger::wrappedFree(void* pointer) { m_wrapped->free(pointer); }
void* AllocationLogger::wrappedTryResize(void* pointer, u64 newSize) { return m_wrapped->tryResize(pointer, newSize); }

void AllocationLogger::writeRecord(const void* data, u64 length, bool truncate)
{
    std::FILE* file = std::fopen(m_fileName, truncate ? "wb" : "ab");
    if (!file) {
        // Allocation goes on; the log is a diagnostic. Say once that it is incomplete.
        if (!m_openFailureReported) {
            m_openFailureReported = true;
            std::fprintf(stderr, "Can't open allocation log %s: %s\n", m_fileName, std::strerror(errno));
        }
        return;
    }
    std::fwrite(data, 1, length, file);
    if (std::fclose(file) != 0) {
        std::perror("fclose");
        QUERN_FATAL("fclose failed");
    }
}

void AllocationLogger::writeText(bool truncate, const char* format, ...)
{
    char line[128];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0)
        writeRecord(line, static_cast<u64>(length) < sizeof line ? static_cast<u64>(length) : sizeof line - 1, truncate);
}

} // namespace quern::memory
