#pragma once
// A lockable block of bytes with an element size: the base of pixel, vertex and
// index buffers and of audio sample buffers. The lock word records who holds the
// buffer so that device-backed subclasses know what to upload; it is not a
// synchronisation device. Buffer memory comes from a process-wide allocator
// that keeps the total of all buffer bytes.

#include "quern/Types.h"

namespace quern::containers {

struct BufferBase {
    // Bit 0 means write access. Values are part of the interface.
    enum class Lock : i32 {
        Write = 1,     // whole-buffer copy and row copy
        WriteBack = 3, // writing back the kept bytes after a resize
        Read = 4,      // reading the source of a copy or a resize
        ReadWrite = 5, // device-backed buffers
    };

    // Fatal "Invalid enum value for type BufferBase::Lock" for any other value;
    // for buffers that dispatch on the mode.
    static void checkLock(Lock mode);
    static bool isWriteLock(Lock mode) { return (static_cast<i32>(mode) & 1) != 0; }
};

class Buffer : public BufferBase {
public:
    Buffer() = default;
    virtual ~Buffer() = default;

    virtual void setSize(u64 bytes) { m_byteSize = bytes; }
    virtual void setElementSize(u64 bytes) { m_elementSize = bytes; }
    // The address of the first locked byte.
    virtual u8* lock(Lock mode, u64 firstElement, u64 elementCount) = 0;
    virtual void unlock() = 0;

    u64 byteSize() const { return m_byteSize; }
    u64 elementSize() const { return m_elementSize; }
    u64 elementCount() const { return m_elementSize ? m_byteSize / m_elementSize : 0; }
    // 0 unlocked; odd: the mode of the write lock; a multiple of 4: 4 per read lock.
    i32 lockWord() const { return m_lockWord; }

    // Keeps the first min(old, new) bytes.
    void resize(u64 bytes);
    // Copies the other buffer's bytes (and size) into this one.
    void assign(const Buffer& other);
    // Copies `rows` runs of rowBytes from source + sourceOffset into this buffer
    // at destinationOffset, each side advancing by its own stride. Fatal when the
    // runs would reach past the end of this buffer.
    void copyRows(const void* source, u64 rows, u64 sourceStride, u64 destinationStride, u64 rowBytes,
                  u64 sourceOffset, u64 destinationOffset);

    // The buffer allocator: blocks aligned to 16, from the default allocator,
    // counted in the process-wide total. Failure is fatal.
    static void* allocateBufferMemory(u64 bytes);
    // Null is ignored.
    static void freeBufferMemory(void* pointer);
    // Bytes of all buffer blocks now allocated, by every thread.
    static u64 totalBufferMemory();

protected:
    Buffer(const Buffer& other) : BufferBase(other), m_byteSize(other.m_byteSize), m_elementSize(other.m_elementSize) {}
    Buffer& operator=(const Buffer&) = delete;

    void storeSize(u64 bytes) { m_byteSize = bytes; }
    void storeElementSize(u64 bytes) { m_elementSize = bytes; }
    // After a write the word returns to 0; after a read it drops by one read lock.
    void resetLockWord() { m_lockWord = (m_lockWord & 1) ? 0 : m_lockWord - 4; }
    void addLockWord(i32 amount) { m_lockWord += amount; }
    void setLockWord(i32 word) { m_lockWord = word; }

private:
    u64 m_byteSize = 0;
    u64 m_elementSize = 1;
    i32 m_lockWord = 0;
};

} // namespace quern::containers
