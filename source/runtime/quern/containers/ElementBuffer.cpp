#include "quern/containers/ElementBuffer.h"

namespace quern::containers {

ElementBuffer::ElementBuffer(const ElementBuffer& other) : ElementBuffer(static_cast<const Buffer&>(other)) {}

ElementBuffer::ElementBuffer(const Buffer& other)
{
    storeElementSize(other.elementSize());
    assign(other);
}

ElementBuffer::~ElementBuffer()
{
    if (m_ownsData)
        freeBufferMemory(m_data);
}

void ElementBuffer::setSize(u64 bytes)
{
    void* block = bytes ? allocateBufferMemory(bytes) : nullptr;
    adopt(block, bytes, bytes != 0);
    storeSize(bytes);
}

void ElementBuffer::setElementSize(u64 bytes)
{
    if (bytes == elementSize())
        return;
    const u64 count = elementCount();
    storeElementSize(bytes);
    if (byteSize() != 0) {
        setSize(0);
        resizeElements(count);
    }
}

u8* ElementBuffer::lock(Lock, u64 firstElement, u64) { return m_data + firstElement * elementSize(); }

void ElementBuffer::unlock() {}

void ElementBuffer::resizeElements(u64 count) { resize(count * elementSize()); }

void ElementBuffer::adopt(void* pointer, u64 bytes, bool owned)
{
    if (pointer != m_data && m_ownsData)
        freeBufferMemory(m_data);
    m_data = static_cast<u8*>(pointer);
    m_ownsData = owned;
    storeSize(bytes);
}

Buffer* cloneElementBuffer(const Buffer* source)
{
    if (!source)
        return nullptr;
    return new ElementBuffer(*source);
}

} // namespace quern::containers
