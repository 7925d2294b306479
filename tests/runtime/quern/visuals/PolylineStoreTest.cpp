#include "support/RecordingGraphicsBackEnd.h"

#include "quern/graphics/BatchVertex.h"
#include "quern/visuals/LineStrip.h"
#include "quern/visuals/PolylineStore.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::test {
namespace {

using visuals::PolylinePoint;
using visuals::PolylineSnapshot;
using visuals::PolylineStore;

void expectRecord(const PolylineStore& store, u64 line, u16 first, u16 count, u16 capacity)
{
    const visuals::PolylineRecord& r = store.record(line);
    EXPECT_EQ(r.first, first) << "line " << line;
    EXPECT_EQ(r.count, count) << "line " << line;
    EXPECT_EQ(r.capacity, capacity) << "line " << line;
}

TEST(PolylineStore, FirstLineGrowsInPlaceAndShrinkingKeepsItsBlock)
{
    testing::CountingAllocator allocator;
    {
        PolylineStore store;
        store.init(3, &allocator);
        store.setPointCount(0, 5);
        expectRecord(store, 0, 0, 5, 5);
        EXPECT_EQ(store.record(0).active, 1);
        EXPECT_EQ(store.record(1).active, 0);
        ASSERT_EQ(store.allPointsA().count(), 5u);
        EXPECT_EQ(store.allPointsB().count(), 5u);
        EXPECT_EQ(store.pointsB(0)[4].z, 0.0f);
        store.setPointCount(0, 3);
        expectRecord(store, 0, 0, 3, 5);
        store.setPointCount(0, 5);
        expectRecord(store, 0, 0, 5, 5);
        EXPECT_EQ(store.allPointsA().count(), 5u);
    }
    EXPECT_EQ(allocator.live, 0);
}

TEST(PolylineStore, OutgrownBlocksAreFreedAndReusedBySmallestFit)
{
    PolylineStore store;
    store.init(3, nullptr);
    store.setPointCount(0, 4);
    store.setPointCount(1, 4);
    for (u16 i = 0; i < 4; ++i)
        store.pointsA(0)[i] = { f32(i), 1, 2 };
    store.setPointCount(0, 6);
    expectRecord(store, 0, 8, 6, 6);
    EXPECT_EQ(store.pointsA(0)[3].x, 3.0f);
    EXPECT_EQ(store.pointsA(0)[5].x, 0.0f);
    ASSERT_EQ(store.freeBlocks().count(), 1u);
    EXPECT_EQ(store.freeBlocks().at<visuals::PolylineRecord>(0).first, 0);

    store.setPointCount(2, 3);
    expectRecord(store, 2, 0, 3, 4);
    EXPECT_EQ(store.allPointsA().count(), 14u);
    // The reused block's old points stay where nothing was copied over them.
    EXPECT_EQ(store.pointsA(2)[1].x, 1.0f);
}

TEST(PolylineStore, SnapshotsPackTheLinesWithPoints)
{
    PolylineStore store;
    store.init(3, nullptr);
    store.setPointCount(2, 2);
    store.setPointCount(0, 3);
    store.pointsA(0)[2] = { 7, 8, 9 };
    store.pointsA(2)[0] = { 1, 1, 1 };
    store.setPointCount(0, 9); // grows in place: its block ends the arrays
    PolylineSnapshot snapshot;
    store.setPointCount(0, 3);
    store.saveSnapshot(snapshot);
    ASSERT_EQ(snapshot.entries.count(), 2u);
    const auto& e0 = snapshot.entries.at<PolylineSnapshot::Entry>(0);
    const auto& e1 = snapshot.entries.at<PolylineSnapshot::Entry>(1);
    EXPECT_EQ(e0.line, 0);
    EXPECT_EQ(e0.first, 0);
    EXPECT_EQ(e0.count, 3);
    EXPECT_EQ(e1.line, 2);
    EXPECT_EQ(e1.first, 3);
    EXPECT_EQ(e1.count, 2);
    ASSERT_EQ(snapshot.points.count(), 5u);
    EXPECT_EQ(snapshot.points.at<PolylinePoint>(2).z, 9.0f);
    EXPECT_EQ(snapshot.points.at<PolylinePoint>(3).x, 1.0f);

    store.restoreSnapshot(snapshot);
    expectRecord(store, 0, 0, 3, 3);
    expectRecord(store, 1, 0, 0, 0);
    expectRecord(store, 2, 3, 2, 2);
    EXPECT_EQ(store.record(1).active, 0);
    EXPECT_EQ(store.allPointsA().count(), 5u);
    EXPECT_EQ(store.pointsB(0)[2].y, 8.0f);
    EXPECT_TRUE(store.freeBlocks().isEmpty());
}

TEST(PolylineStoreDeathTest, GrowingPastSixteenBitIndicesIsFatal)
{
    PolylineStore store;
    store.init(2, nullptr);
    store.setPointCount(0, 65000);
    EXPECT_DEATH(store.setPointCount(1, 600), "Polyline store full: its 16-bit indices reach 65535 points");
    EXPECT_DEATH(store.setPointCount(0, 70000), "Polyline store full");
}

using LineStripTest = RecordingDisplayTest;

TEST_F(LineStripTest, RibbonWidensAndBlendsAlongTheLine)
{
    Ref hold(new graphics::VertexBuffer(0));
    auto& vb = *hold.getCounted<graphics::VertexBuffer>();
    const PolylinePoint points[2] = { { 0, 0, 0 }, { 10, 0, 0 } };
    const f32 colours[2][4] = { { 1, 0, 0, 1 }, { 0, 0, 1, 0 } };
    f32 lo[3], hi[3];
    visuals::buildLineStrip(vb, points, 2, colours, 2, 2, 4, lo, hi);
    ASSERT_EQ(vb.vertexCount(), 4u);
    EXPECT_EQ(vb.primitiveType(), graphics::PrimitiveType::TriangleStrip);
    graphics::BatchVertex v[4];
    std::memcpy(v, vb.lockVertices(containers::BufferBase::Lock::Read, 0, 4), sizeof v);
    vb.unlockVertices();
    const f32 expected[4][3] = { { 0, 1, 0 }, { 0, -1, 0 }, { 10, 2, 0 }, { 10, -2, 0 } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, expected[i][0]) << i;
        EXPECT_FLOAT_EQ(v[i].y, expected[i][1]) << i;
    }
    EXPECT_EQ(v[0].colour[0], 255);
    EXPECT_EQ(v[3].colour[2], 255);
    EXPECT_EQ(v[3].colour[3], 0);
    EXPECT_EQ(v[3].u, 1.0f);
    EXPECT_EQ(v[3].v, 1.0f);
    EXPECT_EQ(lo[0], -1.0f);
    EXPECT_EQ(hi[0], 12.0f);
    EXPECT_EQ(lo[1], -2.0f);
    EXPECT_EQ(hi[1], 2.0f);
    EXPECT_EQ(hi[2], 0.0f);
}

TEST_F(LineStripTest, FewerThanTwoPointsEmptyTheBuffer)
{
    Ref hold(new graphics::VertexBuffer(0));
    auto& vb = *hold.getCounted<graphics::VertexBuffer>();
    const PolylinePoint points[3] = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 } };
    const f32 colours[1][4] = { { 1, 1, 1, 1 } };
    f32 lo[3], hi[3];
    visuals::buildLineStrip(vb, points, 3, colours, 1, 1, 1, lo, hi);
    EXPECT_EQ(vb.vertexCount(), 6u);
    for (u64 n : { 1u, 0u }) {
        visuals::buildLineStrip(vb, points, n, colours, 1, 1, 1, lo, hi);
        EXPECT_EQ(vb.byteSize(), 0u) << n;
        EXPECT_EQ(lo[0], 3.4028235e38f);
        EXPECT_EQ(hi[2], -3.4028235e38f);
    }
}

} // namespace
} // namespace quern::test
