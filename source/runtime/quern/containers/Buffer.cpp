#include "quern/containers/Buffer.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace quern::containers {
namespace {

// Every thread that loads or frees buffers changes it.
std::atomic<u64> g_bufferTotal{0};
constexpr u64 kHeaderSize = 16;

memory::Allocator& defaultAllocator()
{
    memory::Allocator* allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_FATAL("Buffer memory used before the default allocator exists");
    return *allocator;
}

} // namespace

void BufferBase::checkLock(Lock mode)
{
    switch (mode) {
    case Lock::Write:
    case Lock::WriteBack:
    case Lock::Read:
    case Lock::ReadWrite: return;
    }
    QUERN_FATAL_INVALID_ENUM("BufferBase::Lock");
}

void* Buffer::allocateBufferMemory(u64 bytes)
{
    const u64 total = g_bufferTotal.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    u8* block = bytes <= ~u64{0} - kHeaderSize
        ? static_cast<u8*>(defaultAllocator().allocate(bytes + kHeaderSize, kHeaderSize))
        : nullptr;
    if (!block) {
        char message[160];
        std::snprintf(message, sizeof message, "Failed to allocate %llu bytes of buffer memory. Size of all buffers: %llu",
                      static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(total));
        QUERN_FATAL(message);
    }
    std::memcpy(block, &bytes, sizeof bytes);
    return block + kHeaderSize;
}

void Buffer::freeBufferMemory(void* pointer)
{
    if (!pointer)
        return;
    u8* block = static_cast<u8*>(pointer) - kHeaderSize;
    u64 bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    g_bufferTotal.fetch_sub(bytes, std::memory_order_relaxed);
    defaultAllocator().free(block);
}

u64 Buffer::totalBufferMemory() { return g_bufferTotal.load(std::memory_order_relaxed); }

void Buffer::resize(u64 bytes)
{
    const u64 oldBytes = m_byteSize;
    if (bytes == oldBytes)
        return;
    const u64 kept = bytes < oldBytes ? bytes : oldBytes;
    if (kept == 0) {
        setSize(bytes);
        return;
    }
    memory::Allocator& allocator = defaultAllocator();
    void* saved = allocator.allocate(kept, 4);
    if (!saved)
        QUERN_OUT_OF_MEMORY();

    m_lockWord += 4;
    std::memcpy(saved, lock(Lock::Read, 0, kept / (m_elementSize ? m_elementSize : 1)), kept);
    unlock();
    m_lockWord -= 4;

    setSize(bytes);

    m_lockWord = static_cast<i32>(Lock::WriteBack);
    std::memcpy(lock(Lock::WriteBack, 0, kept / (m_elementSize ? m_elementSize : 1)), saved, kept);
    unlock();
    resetLockWord();
    allocator.free(saved);
}

void Buffer::assign(const Buffer& other)
{
    if (&other == this)
        return;
    if (other.m_byteSize == 0) {
        setSize(0);
        return;
    }
    // Reading does not change the source's bytes; only its lock word records it.
    Buffer& source = const_cast<Buffer&>(other);
    source.m_lockWord += 4;
    const u8* from = source.lock(Lock::Read, 0, source.elementCount());
    setSize(source.m_byteSize);
    m_lockWord = static_cast<i32>(Lock::Write);
    std::memcpy(lock(Lock::Write, 0, elementCount()), from, source.m_byteSize);
    unlock();
    m_lockWord = 0;
    source.unlock();
    source.m_lockWord -= 4;
}

void Buffer::copyRows(const void* source, u64 rows, u64 sourceStride, u64 destinationStride, u64 rowBytes,
                      u64 sourceOffset, u64 destinationOffset)
{
    if (rows == 0)
        return;
    // The last run ends at destinationOffset + (rows - 1) * stride + rowBytes;
    // computed so that no product or sum can wrap.
    const bool fits = destinationOffset <= m_byteSize && rowBytes <= m_byteSize - destinationOffset
        && (rows == 1 || destinationStride == 0
            || rows - 1 <= (m_byteSize - destinationOffset - rowBytes) / destinationStride);
    if (!fits)
        QUERN_FATAL("Buffer::copyRows would write past the end of the buffer");
    m_lockWord = static_cast<i32>(Lock::Write);
    u8* base = lock(Lock::Write, 0, elementCount());
    const u8* from = static_cast<const u8*>(source) + sourceOffset;
    u8* to = base + destinationOffset;
    for (u64 row = 0; row < rows; ++row) {
        std::memcpy(to, from, rowBytes);
        from += sourceStride;
        to += destinationStride;
    }
    unlock();
    resetLockWord();
}

} // namespace quern::containers
