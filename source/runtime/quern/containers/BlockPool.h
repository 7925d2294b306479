#pragma once
// A pool of fixed-size records handed out from a free list and allocated in
// blocks. A free record is linked through its last pointer-sized word (records
// keep their link as their last field). Records are raw storage: nothing is
// constructed or destroyed. Not thread-safe; owners lock around it.

#include "quern/Types.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::containers {

template <typename Record>
class BlockPool {
    static_assert(sizeof(Record) >= sizeof(void*), "a record holds at least its free-list link");

public:
    // A null allocator is the default allocator. growCount 0: the owner grows
    // the pool itself; taking from an empty pool then is fatal.
    explicit BlockPool(memory::Allocator* allocator = nullptr, u64 growCount = 0, u64 alignment = 8)
        : m_allocator(allocator), m_growCount(growCount), m_alignment(alignment)
    {
    }
    ~BlockPool() { clear(); }
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // Adds a block of n records. They go onto the free list in ascending order,
    // so the block's last record is the next one taken.
    void grow(u64 n)
    {
        if (n == 0)
            return;
        memory::Allocator& allocator = resolveAllocator();
        auto* node = static_cast<BlockNode*>(allocator.allocate(sizeof(BlockNode), 8));
        auto* block = static_cast<Record*>(allocator.allocate(n * sizeof(Record), m_alignment));
        if (!node || !block)
            QUERN_OUT_OF_MEMORY();
        node->block = block;
        node->next = m_blocks;
        m_blocks = node;
        for (u64 i = 0; i < n; ++i) {
            setNext(&block[i], m_freeHead);
            m_freeHead = &block[i];
        }
    }

    // Pops the free head, growing by the grow count first when the pool is dry.
    Record* take()
    {
        if (!m_freeHead) {
            if (m_growCount == 0)
                QUERN_FATAL("BlockPool is empty and has no grow count");
            grow(m_growCount);
        }
        Record* record = m_freeHead;
        m_freeHead = nextOf(record);
        return record;
    }

    // Pushes a record back; it is the next one taken.
    void give(Record* record)
    {
        setNext(record, m_freeHead);
        m_freeHead = record;
    }

    // Frees every block and block node; the pool becomes empty.
    void clear()
    {
        BlockNode* node = m_blocks;
        while (node) {
            BlockNode* next = node->next;
            m_allocator->free(node->block);
            m_allocator->free(node);
            node = next;
        }
        m_blocks = nullptr;
        m_freeHead = nullptr;
    }

    void setGrowCount(u64 growCount) { m_growCount = growCount; }
    u64 growCount() const { return m_growCount; }
    bool hasFree() const { return m_freeHead != nullptr; }
    u64 blockCount() const
    {
        u64 count = 0;
        for (const BlockNode* node = m_blocks; node; node = node->next)
            ++count;
        return count;
    }

private:
    struct BlockNode {
        Record* block;
        BlockNode* next;
    };

    static constexpr u64 kLinkOffset = sizeof(Record) - sizeof(Record*);

    static Record* nextOf(Record* record)
    {
        Record* next;
        std::memcpy(&next, reinterpret_cast<u8*>(record) + kLinkOffset, sizeof next);
        return next;
    }
    static void setNext(Record* record, Record* next)
    {
        std::memcpy(reinterpret_cast<u8*>(record) + kLinkOffset, &next, sizeof next);
    }

    memory::Allocator& resolveAllocator()
    {
        if (!m_allocator)
            m_allocator = memory::getDefaultAllocator();
        if (!m_allocator)
            QUERN_FATAL("BlockPool used before the default allocator exists");
        return *m_allocator;
    }

    Record* m_freeHead = nullptr;
    BlockNode* m_blocks = nullptr;
    memory::Allocator* m_allocator;
    u64 m_growCount;
    u64 m_alignment;
};

} // namespace quern::containers
