#include "quern/memory/LinearAllocator.h"

#include <bit>
#include <cstring>
#include <new>

namespace quern::memory {
namespace {

constexpr u32 kFreedBit = 0x80000000u;
constexpr u32 kLengthMask = 0x7FFFFFFFu;
constexpr u32 kPaddingWord = 0xFFFFFFFFu;

u32 readWord(const unsigned char* at)
{
    u32 word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

void writeWord(unsigned char* at, u32 word) { std::memcpy(at, &word, sizeof word); }

u64 roundUp4(u64 value) { return (value + 3) & ~u64 { 3 }; }

} // namespace

LinearAllocator::LinearAllocator(Allocator* parent, u64 blockSize)
    : m_parent(parent)
{
    // Record headers are 32-bit words, so the ring is a whole number of words.
    blockSize &= ~u64 { 3 };
    if (!parent || blockSize == 0)
        return;
    m_blockStart = static_cast<unsigned char*>(parent->allocate(blockSize, 4));
    if (!m_blockStart)
        return;
    m_blockEnd = m_blockStart + blockSize;
    m_next = m_oldest = m_blockStart;
}

LinearAllocator::~LinearAllocator()
{
    if (m_blockStart)
        m_parent->free(m_blockStart);
}

void* LinearAllocator::allocate(u64 size, u64 alignment)
{
    if (void* record = allocateInRing(size, alignment))
        return record;
    return m_parent ? m_parent->allocate(size, alignment) : nullptr;
}

void* LinearAllocator::allocateInRing(u64 size, u64 alignment)
{
    if (!m_blockStart || size > kLengthMask || alignment > kLengthMask)
        return nullptr;
    // Padding words are found by stepping back a word at a time, so the
    // payload must sit on a word boundary: whole powers of two from 4 up.
    const u64 a = alignment < 4 ? 4 : std::bit_ceil(alignment);
    const u64 padded = roundUp4(size);
    const u64 need = a + 3 + padded;
    if (need > kLengthMask || need > static_cast<u64>(m_blockEnd - m_blockStart))
        return nullptr;

    auto placeAt = [&](unsigned char* at, unsigned char*& payload, unsigned char*& end) {
        const u64 address = reinterpret_cast<u64>(at) + a + 3;
        payload = reinterpret_cast<unsigned char*>(address & ~(a - 1)); // a is a power of two
        end = payload + padded;
    };
    unsigned char* start = m_next;
    unsigned char* payload;
    unsigned char* end;
    placeAt(start, payload, end);
    if (end > m_blockEnd) {
        // The tail of the block is too short: it becomes a freed filler that
        // the oldest position walks over, and the record wraps to the start.
        // Neither may touch live records.
        unsigned char* tail = start;
        start = m_blockStart;
        placeAt(start, payload, end);
        if (m_liveBytes != 0 && (overlapsLive(tail, m_blockEnd) || overlapsLive(start, end)))
            return nullptr;
        writeWord(tail, static_cast<u32>(m_blockEnd - tail) | kFreedBit);
    } else if (m_liveBytes != 0 && overlapsLive(start, end)) {
        return nullptr;
    }

    const u32 length = static_cast<u32>(end - start);
    writeWord(start, length);
    for (unsigned char* word = start + 4; word < payload; word += 4)
        writeWord(word, kPaddingWord);
    m_liveBytes += length;
    m_next = end == m_blockEnd ? m_blockStart : end;
    return payload;
}

// The live span runs from the oldest position to the next one, wrapping at
// the block end; equal positions with live bytes mean the ring is full.
bool LinearAllocator::overlapsLive(const unsigned char* begin, const unsigned char* end) const
{
    auto overlaps = [&](const unsigned char* liveBegin, const unsigned char* liveEnd) {
        return begin < liveEnd && liveBegin < end;
    };
    if (m_oldest < m_next)
        return overlaps(m_oldest, m_next);
    return overlaps(m_oldest, m_blockEnd) || overlaps(m_blockStart, m_next);
}

void LinearAllocator::free(void* pointer)
{
    if (!pointer)
        return;
    if (!ownsBlock(pointer)) {
        m_parent->free(pointer);
        return;
    }
    unsigned char* header = static_cast<unsigned char*>(pointer) - 4;
    while (readWord(header) == kPaddingWord)
        header -= 4;
    const u32 word = readWord(header);
    if (word & kFreedBit)
        return; // already freed: counting it twice would corrupt the ring
    m_liveBytes -= word & kLengthMask;
    writeWord(header, word | kFreedBit);
    if (m_liveBytes == 0) {
        m_oldest = m_next = m_blockStart;
        return;
    }
    advanceOldest();
}

void LinearAllocator::advanceOldest()
{
    do {
        const u32 word = readWord(m_oldest);
        if (!(word & kFreedBit))
            return;
        m_oldest += word & kLengthMask;
        if (m_oldest >= m_blockEnd)
            m_oldest = m_blockStart;
    } while (m_oldest != m_next);
}

void* LinearAllocator::tryResize(void*, u64) { return nullptr; }

bool LinearAllocator::ownsBlock(const void* pointer) const
{
    const unsigned char* p = static_cast<const unsigned char*>(pointer);
    return m_blockStart && p >= m_blockStart && p < m_blockEnd;
}

LinearAllocator* createLinearAllocator(Allocator& objectAllocator, Allocator* parent, u64 blockSize)
{
    void* storage = objectAllocator.allocate(sizeof(LinearAllocator), alignof(LinearAllocator));
    if (!storage)
        return nullptr;
    return new (storage) LinearAllocator(parent, blockSize);
}

} // namespace quern::memory
