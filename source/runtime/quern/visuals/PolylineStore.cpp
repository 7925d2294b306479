#include "quern/visuals/PolylineStore.h"

#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>
#include <initializer_list>

namespace quern::visuals {

namespace {

constexpr u64 kReservedPoints = 8192;

void copyPoints(containers::Array& points, u64 from, u64 to, u64 count)
{
    if (count)
        std::memmove(points.at(to), points.at(from), count * sizeof(PolylinePoint));
}

} // namespace

PolylineStore::~PolylineStore() { release(); }

void PolylineStore::init(u64 lineCount, memory::Allocator* allocator)
{
    release();
    m_allocator = allocator ? allocator : memory::getDefaultAllocator();
    m_lineCount = lineCount;
    if (lineCount) {
        m_records = static_cast<PolylineRecord*>(
            m_allocator->allocate(lineCount * sizeof(PolylineRecord), alignof(PolylineRecord)));
        std::memset(m_records, 0, lineCount * sizeof(PolylineRecord));
    }
    m_freeBlocks = containers::Array(sizeof(PolylineRecord), alignof(PolylineRecord), m_allocator);
    m_pointsA = containers::Array(sizeof(PolylinePoint), alignof(PolylinePoint), m_allocator);
    m_pointsB = containers::Array(sizeof(PolylinePoint), alignof(PolylinePoint), m_allocator);
    m_pointsA.reserve(kReservedPoints);
    m_pointsB.reserve(kReservedPoints);
}

void PolylineStore::release()
{
    if (m_records)
        m_allocator->free(m_records);
    m_records = nullptr;
    m_lineCount = 0;
    m_freeBlocks.release();
    m_pointsA.release();
    m_pointsB.release();
}

void PolylineStore::growArrays(u64 length)
{
    if (length > kMaxPoints)
        QUERN_FATAL("Polyline store full: its 16-bit indices reach 65535 points");
    const u64 old = m_pointsA.count();
    for (containers::Array* points : { &m_pointsA, &m_pointsB }) {
        points->expand(length);
        std::memset(points->at(old), 0, (length - old) * sizeof(PolylinePoint));
    }
}

void PolylineStore::setPointCount(u64 line, u64 k)
{
    PolylineRecord& r = m_records[line];
    if (k == r.count)
        return;
    r.active = 1;
    if (k <= r.capacity) {
        r.count = static_cast<u16>(k);
        return;
    }
    const u64 length = m_pointsA.count();
    if (static_cast<u64>(r.first) + r.capacity == length) {
        growArrays(static_cast<u64>(r.first) + k);
        r.count = r.capacity = static_cast<u16>(k);
        return;
    }
    // The smallest free block that fits; the first of equals.
    PolylineRecord* best = nullptr;
    for (u64 i = 0; i < m_freeBlocks.count(); ++i) {
        PolylineRecord& block = m_freeBlocks.at<PolylineRecord>(i);
        if (block.capacity >= k && (!best || block.capacity < best->capacity))
            best = &block;
    }
    if (best) {
        copyPoints(m_pointsA, r.first, best->first, r.count);
        copyPoints(m_pointsB, r.first, best->first, r.count);
        const PolylineRecord old = r;
        r.first = best->first;
        r.capacity = best->capacity;
        r.count = static_cast<u16>(k);
        *best = { old.first, 0, old.capacity, 0 };
        return;
    }
    if (r.capacity > 0)
        m_freeBlocks.append(PolylineRecord { r.first, 0, r.capacity, 0 });
    growArrays(length + k);
    copyPoints(m_pointsA, r.first, length, r.count);
    copyPoints(m_pointsB, r.first, length, r.count);
    r.first = static_cast<u16>(length);
    r.count = r.capacity = static_cast<u16>(k);
}

void PolylineStore::saveSnapshot(PolylineSnapshot& snapshot) const
{
    snapshot.entries.clear();
    snapshot.points.clear();
    for (u64 line = 0; line < m_lineCount; ++line)
        if (m_records[line].count)
            snapshot.entries.append(
                PolylineSnapshot::Entry { static_cast<u16>(line), m_records[line].first, m_records[line].count });
    u64 packed = 0;
    for (u64 i = 0; i < snapshot.entries.count(); ++i) {
        PolylineSnapshot::Entry& entry = snapshot.entries.at<PolylineSnapshot::Entry>(i);
        void* to = snapshot.points.expand(packed + entry.count);
        std::memcpy(to, m_pointsA.at(entry.first), entry.count * sizeof(PolylinePoint));
        entry.first = static_cast<u16>(packed);
        packed += entry.count;
    }
}

void PolylineStore::restoreSnapshot(const PolylineSnapshot& snapshot)
{
    const u64 n = snapshot.points.count();
    if (n > kMaxPoints)
        QUERN_FATAL("Polyline store full: its 16-bit indices reach 65535 points");
    m_pointsA.clear();
    m_pointsB.clear();
    if (n) {
        std::memcpy(m_pointsA.expand(n), snapshot.points.data(), n * sizeof(PolylinePoint));
        std::memcpy(m_pointsB.expand(n), snapshot.points.data(), n * sizeof(PolylinePoint));
    }
    m_freeBlocks.clear();
    if (m_lineCount)
        std::memset(m_records, 0, m_lineCount * sizeof(PolylineRecord));
    for (u64 i = 0; i < snapshot.entries.count(); ++i) {
        const auto& entry = snapshot.entries.at<PolylineSnapshot::Entry>(i);
        if (entry.line < m_lineCount)
            m_records[entry.line] = { entry.first, entry.count, entry.count, 1 };
    }
}

} // namespace quern::visuals
