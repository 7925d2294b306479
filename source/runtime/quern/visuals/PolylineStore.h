#pragma once
// Many polylines over two shared point arrays (the line renderer keeps two
// point sets per line, at the same indices). Every line owns a block of the
// arrays; a line that outgrows its block moves to a free block or to the end,
// and its old block joins the free list. Blocks are never merged, shrunk or
// given back: only restoring a snapshot packs the arrays. Indices are 16-bit,
// so the arrays never hold more than 65,535 points.

#include "quern/containers/Array.h"

namespace quern::memory {
class Allocator;
}

namespace quern::visuals {

struct PolylinePoint {
    f32 x, y, z;
};

struct PolylineRecord {
    u16 first; // the block's first point
    u16 count; // points in use
    u16 capacity; // points in the block
    u16 active; // 1 once sized or restored
};
static_assert(sizeof(PolylineRecord) == 8);

// The lines with points, packed, as the quick save keeps them.
struct PolylineSnapshot {
    struct Entry {
        u16 line;
        u16 first; // within `points`
        u16 count;
    };
    containers::Array entries { sizeof(Entry), alignof(Entry) };
    containers::Array points { sizeof(PolylinePoint), alignof(PolylinePoint) };
};

class PolylineStore {
public:
    static constexpr u64 kMaxPoints = 65535;

    PolylineStore() = default;
    ~PolylineStore();
    PolylineStore(const PolylineStore&) = delete;
    PolylineStore& operator=(const PolylineStore&) = delete;

    // n cleared lines; room for 8,192 points reserved.
    void init(u64 lineCount, memory::Allocator* allocator);
    void release();

    // Resizes a line; new points are (0, 0, 0) unless the line moves into a
    // free block, whose old points stay. Growing the arrays past 65,535
    // points is fatal.
    void setPointCount(u64 line, u64 count);
    // For writers of points in place: the line is to be drawn anew.
    void markChanged(u64 line) { m_records[line].active = 1; }
    void saveSnapshot(PolylineSnapshot& snapshot) const;
    void restoreSnapshot(const PolylineSnapshot& snapshot);

    u64 lineCount() const { return m_lineCount; }
    const PolylineRecord& record(u64 line) const { return m_records[line]; }
    PolylinePoint* pointsA(u64 line) { return m_pointsA.dataAs<PolylinePoint>() + m_records[line].first; }
    PolylinePoint* pointsB(u64 line) { return m_pointsB.dataAs<PolylinePoint>() + m_records[line].first; }
    const containers::Array& allPointsA() const { return m_pointsA; }
    const containers::Array& allPointsB() const { return m_pointsB; }
    const containers::Array& freeBlocks() const { return m_freeBlocks; }

private:
    // Both arrays at `length` points; new points are zero.
    void growArrays(u64 length);

    PolylineRecord* m_records = nullptr;
    u64 m_lineCount = 0;
    containers::Array m_freeBlocks;
    containers::Array m_pointsA;
    containers::Array m_pointsB;
    memory::Allocator* m_allocator = nullptr;
};

} // namespace quern::visuals
