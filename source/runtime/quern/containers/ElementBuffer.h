#pragma once
// The in-memory buffer: its bytes live in a block from the buffer allocator,
// owned (freed when replaced or destroyed) or adopted from elsewhere.

#include "quern/containers/Buffer.h"

namespace quern::containers {

class ElementBuffer : public Buffer {
public:
    ElementBuffer() = default;
    // Same sizes, its own copy of the bytes, unlocked.
    ElementBuffer(const ElementBuffer& other);
    // A copy of any buffer's bytes and sizes.
    explicit ElementBuffer(const Buffer& other);
    ElementBuffer& operator=(const ElementBuffer&) = delete;
    ~ElementBuffer() override;

    // A new block of that size (none for 0); the old contents are not kept.
    void setSize(u64 bytes) override;
    // A different element size keeps the element count; the contents are lost.
    void setElementSize(u64 bytes) override;
    u8* lock(Lock mode, u64 firstElement, u64 elementCount) override;
    void unlock() override;
    // Resizes to count elements, keeping the bytes that still fit.
    virtual void resizeElements(u64 count);
    // Takes the pointer as the buffer's bytes; the old block is freed when it
    // was owned and differs from the new one.
    virtual void adopt(void* pointer, u64 bytes, bool owned);

    u8* data() { return m_data; }
    const u8* data() const { return m_data; }
    bool ownsData() const { return m_ownsData; }

private:
    u8* m_data = nullptr;
    bool m_ownsData = false;
};

// The clone factory that pixel buffers keep: null for null, else a new
// ElementBuffer holding a copy of the buffer's bytes.
Buffer* cloneElementBuffer(const Buffer* source);

} // namespace quern::containers
