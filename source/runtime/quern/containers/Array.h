#pragma once
// The engine's growable array. It is type-erased: the element size and alignment
// are run-time values, so one implementation serves every list in the engine.
// Elements are plain bytes; nothing is constructed or destroyed per element.

#include "quern/Types.h"
#include "quern/memory/Allocator.h"

#include <cstring>
#include <type_traits>

namespace quern::containers {

class Array {
public:
    Array() = default;
    // An empty array; nothing is allocated yet. A null allocator becomes the
    // process default allocator at the first growth.
    Array(u64 elementSize, u64 alignment, memory::Allocator* allocator = nullptr);
    // `count` elements, uninitialised (count and capacity both become `count`).
    Array(u64 count, u64 elementSize, u64 alignment, memory::Allocator* allocator);
    ~Array();

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    Array(Array&& other) noexcept;
    Array& operator=(Array&& other) noexcept;

    void* data() { return m_data; }
    const void* data() const { return m_data; }
    template <class T> T* dataAs() { return static_cast<T*>(m_data); }
    template <class T> const T* dataAs() const { return static_cast<const T*>(m_data); }
    memory::Allocator* allocator() const { return m_allocator; }
    u64 count() const { return m_count; }
    u64 capacity() const { return m_capacity; }
    u64 elementSize() const { return m_elementSize; }
    u64 alignment() const { return m_alignment; }
    bool isEmpty() const { return m_count == 0; }
    u64 usedBytes() const { return m_count * m_elementSize; }

    void* at(u64 index) { return static_cast<u8*>(m_data) + index * m_elementSize; }
    const void* at(u64 index) const { return static_cast<const u8*>(m_data) + index * m_elementSize; }
    template <class T> T& at(u64 index) { return static_cast<T*>(m_data)[index]; }
    template <class T> const T& at(u64 index) const { return static_cast<const T*>(m_data)[index]; }
    void* end() { return static_cast<u8*>(m_data) + usedBytes(); }

    // The capacity the growth policy gives for `wanted` elements: a first block
    // holds at least 64 bytes' worth, blocks of 4 KB to 128 KB grow by half,
    // others double; never below `wanted`.
    u64 growCapacity(u64 wanted) const;

    // Sets the count to `n`, growing first when the capacity is below it, and
    // returns the address of the element at the old count. Shrinking the count
    // keeps the block.
    void* expand(u64 n)
    {
        if (n > m_capacity)
            grow(n);
        void* first = static_cast<u8*>(m_data) + m_count * m_elementSize;
        m_count = n;
        return first;
    }

    // Appends one element copied from `element` and returns its place.
    void* push(const void* element)
    {
        if (m_count == m_capacity)
            return pushGrowing(element);
        void* place = expand(m_count + 1);
        std::memcpy(place, element, m_elementSize);
        return place;
    }

    // Appends one value whose type has exactly the array's element size
    // (for arrays of pointers, the pointer itself).
    template <class T> T& append(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        if (sizeof(T) != m_elementSize)
            failElementSize();
        const T copy = value; // `value` may live in the block that growth moves
        T* place = static_cast<T*>(expand(m_count + 1));
        *place = copy;
        return *place;
    }

    // Grows the block to exactly `n` elements when it holds fewer.
    void reserve(u64 n);
    // Replaces the contents with the bytes of [begin, end).
    void assign(const void* begin, const void* end);
    // Removes [first, last) by moving the array's last elements into the hole;
    // order is not kept. Returns first.
    void* erase(void* first, void* last);
    // For arrays of 8-byte elements: removes the first element equal to `value`
    // keeping order, then shrinks the block to the count (freeing it at 0).
    void removeValue(const void* value);
    // Count to 0; the block stays.
    void clear() { m_count = 0; }
    // Gives the block back to the allocator; the array becomes empty.
    void release();

private:
    void grow(u64 n);
    void* pushGrowing(const void* element);
    [[noreturn]] static void failElementSize();
    void resizeBlock(u64 newCapacity);

    void* m_data = nullptr;
    memory::Allocator* m_allocator = nullptr;
    u64 m_count = 0;
    u64 m_capacity = 0;
    u64 m_elementSize = 0;
    u64 m_alignment = 0;
};

} // namespace quern::containers
