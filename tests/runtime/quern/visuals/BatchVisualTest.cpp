#include "support/RecordingGraphicsBackEnd.h"

#include "support/BufferContents.h"

#include "quern/graphics/Font.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/visuals/BatchVisual.h"
#include "quern/visuals/QuadGeometry.h"
#include "quern/visuals/SubMesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace quern::test {
namespace {

using graphics::BatchVertex;
using graphics::IndexBuffer;
using graphics::PrimitiveType;
using graphics::VertexBuffer;
using visuals::BatchVisual;
using visuals::PrimitiveBatch;
using Lock = containers::BufferBase::Lock;

std::vector<BatchVertex> verticesOf(VertexBuffer& vb, u64 first, u64 count)
{
    std::vector<BatchVertex> out(count);
    if (count) {
        std::memcpy(out.data(), vb.lockVertices(Lock::Read, first, count), count * sizeof(BatchVertex));
        vb.unlockVertices();
    }
    return out;
}

// What the owner does at the end of every frame.
void endFrame(BatchVisual& visual)
{
    visual.flush();
    visual.setFlags(visuals::Visual::ContentsChanged);
    visual.notifyChanged();
    visual.update();
}

using BatchVisualTest = RecordingDisplayTest;

TEST_F(BatchVisualTest, VerticesAreDrawnAfterTheNextFlushOnly)
{
    Ref hold(new BatchVisual());
    auto& visual = *hold.get<BatchVisual>();
    visual.update();
    PrimitiveBatch* lines = visual.getBatch(PrimitiveType::LineList);
    lines->addVertex(1, 2, 3, 1, 0.5f, 0, 1, 0.25f, 0.75f);
    lines->addVertex(4, 5, 6, 0, 0, 1, 0, 0, 0);
    IndexBuffer* range = lines->subMesh->indexBuffer();
    EXPECT_EQ(range->primitiveType(), PrimitiveType::LineList);
    EXPECT_EQ(visual.vertexBuffer()->vertexCount(), 0u);

    endFrame(visual);
    EXPECT_EQ(range->start(), 0u);
    EXPECT_EQ(range->count(), 2);
    EXPECT_EQ(range->indexCount(), 0u);
    const auto drawn = verticesOf(*visual.vertexBuffer(), 0, 2);
    EXPECT_EQ(drawn[0].x, 1.0f);
    EXPECT_EQ(drawn[0].z, 3.0f);
    EXPECT_EQ(drawn[0].colour[1], 128);
    EXPECT_EQ(drawn[0].v, 0.75f);
    EXPECT_EQ(drawn[1].y, 5.0f);
    EXPECT_EQ(drawn[1].colour[2], 255);
    EXPECT_EQ(visual.vertexBuffer()->format().stride, 24u);

    // A frame without vertices leaves the batch nothing to draw.
    endFrame(visual);
    EXPECT_EQ(range->count(), 0);
}

TEST_F(BatchVisualTest, BatchesShareTheBufferInCreationOrderAndItOnlyGrows)
{
    Ref hold(new BatchVisual());
    auto& visual = *hold.get<BatchVisual>();
    PrimitiveBatch* triangles = visual.getBatch(PrimitiveType::TriangleList);
    PrimitiveBatch* lines = visual.getBatch(PrimitiveType::LineList);
    for (int i = 0; i < 3; ++i)
        triangles->addVertex(f32(i), 0, 0, 1, 1, 1, 1, 0, 0);
    lines->addVertex(9, 9, 9, 1, 1, 1, 1, 0, 0);
    lines->addVertex(8, 8, 8, 1, 1, 1, 1, 0, 0);
    endFrame(visual);
    EXPECT_EQ(triangles->subMesh->indexBuffer()->start(), 0u);
    EXPECT_EQ(lines->subMesh->indexBuffer()->start(), 3u);
    EXPECT_EQ(lines->subMesh->indexBuffer()->count(), 2);
    EXPECT_EQ(verticesOf(*visual.vertexBuffer(), 3, 1)[0].x, 9.0f);

    lines->addVertex(7, 7, 7, 1, 1, 1, 1, 0, 0);
    endFrame(visual);
    EXPECT_EQ(visual.vertexBuffer()->vertexCount(), 5u);
    EXPECT_EQ(lines->subMesh->indexBuffer()->start(), 0u);
    EXPECT_EQ(verticesOf(*visual.vertexBuffer(), 0, 1)[0].x, 7.0f);
}

TEST_F(BatchVisualTest, CachedSlotsAreMadeOnceAndAddBatchAlwaysMakesOne)
{
    Ref hold(new BatchVisual());
    auto& visual = *hold.get<BatchVisual>();
    EXPECT_EQ(visual.getBatch(PrimitiveType::LineList), visual.getBatch(PrimitiveType::LineList));
    EXPECT_NE(visual.addBatch(PrimitiveType::LineList), visual.addBatch(PrimitiveType::LineList));
    EXPECT_EQ(visual.batchCount(), 3u);
    EXPECT_EQ(visual.subMeshCount(), 3u);
    EXPECT_EQ(visual.batch(0)->subMesh->material(), visual.batchMaterial());

    PrimitiveBatch* text = visual.getTextBatch();
    EXPECT_EQ(visual.getTextBatch(), text);
    EXPECT_EQ(text->subMesh->material(), visual.textMaterial());
    EXPECT_EQ(visual.textMaterial()->texture(), graphics::Font::getDefault()->texture);

    Ref copyHold(visual.clone());
    auto& copy = *copyHold.get<BatchVisual>();
    ASSERT_EQ(copy.batchCount(), 4u);
    EXPECT_EQ(copy.batch(0)->subMesh->indexBuffer()->primitiveType(), PrimitiveType::LineList);
    EXPECT_EQ(copy.batch(3)->subMesh->indexBuffer()->primitiveType(), PrimitiveType::TriangleList);
    EXPECT_NE(copy.batchMaterial(), visual.batchMaterial());
    hold.reset();
    copyHold.reset();
    graphics::Font::releaseDefault();
}

TEST_F(BatchVisualTest, ClosedOutlineOfACircleLiesOneWidthOutside)
{
    f32 points[36][2];
    for (int k = 0; k < 36; ++k) {
        const f64 angle = k * 2.0 * 3.141592653589793 / 36.0;
        points[k][0] = static_cast<f32>(10.0 * std::cos(angle));
        points[k][1] = static_cast<f32>(10.0 * std::sin(angle));
    }
    PrimitiveBatch batch;
    const f32 colour[4] = { 1, 0, 0, 0.5f };
    batch.addClosedOutline(points, 2.0f, 1.0f, colour);
    ASSERT_EQ(batch.current.count(), 318u);
    for (u64 k = 0; k < 36; ++k) {
        const BatchVertex& outer = batch.current.at<BatchVertex>(k * 6 + 4);
        EXPECT_NEAR(std::sqrt(outer.x * outer.x + outer.y * outer.y), 11.0f, 0.01f) << k;
        const BatchVertex& inner = batch.current.at<BatchVertex>(k * 6);
        EXPECT_NEAR(std::sqrt(inner.x * inner.x + inner.y * inner.y), 10.0f, 1e-4f) << k;
    }
    const BatchVertex& last = batch.current.at<BatchVertex>(317);
    EXPECT_EQ(last.z, 2.0f);
    EXPECT_EQ(last.colour[3], 128);
    EXPECT_EQ(last.x, points[35][0]);
}

TEST_F(BatchVisualTest, SharpCornersAreLimitedToTenWidths)
{
    // A spike: three points almost on top of each other turn back sharply.
    f32 points[36][2];
    for (int k = 0; k < 36; ++k) {
        points[k][0] = k < 18 ? f32(k) : f32(35 - k);
        points[k][1] = k < 18 ? 0.0f : 0.001f;
    }
    PrimitiveBatch batch;
    const f32 colour[4] = { 1, 1, 1, 1 };
    batch.addClosedOutline(points, 0, 1, colour);
    for (u64 k = 0; k < 36; ++k) {
        const BatchVertex& outer = batch.current.at<BatchVertex>(k * 6 + 4);
        const f32 dx = outer.x - points[k][0], dy = outer.y - points[k][1];
        EXPECT_LE(std::sqrt(dx * dx + dy * dy), 10.0f + 1e-3f) << k;
    }
}

TEST_F(BatchVisualTest, FillQuadIndicesKeepsABufferThatIsLargeEnough)
{
    Ref hold(new IndexBuffer(0));
    auto& ib = *hold.getCounted<IndexBuffer>();
    visuals::fillQuadIndices(ib, 2, 0);
    ASSERT_EQ(indicesOf(ib), (std::vector<u32> { 0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7 }));
    visuals::fillQuadIndices(ib, 2, 100);
    EXPECT_EQ(indicesOf(ib)[0], 0u);
    visuals::fillQuadIndices(ib, 3, 8);
    const std::vector<u32> indices = indicesOf(ib);
    ASSERT_EQ(indices.size(), 18u);
    EXPECT_EQ(indices[12], 16u);
    EXPECT_EQ(indices[17], 19u);
    EXPECT_EQ(ib.primitiveType(), PrimitiveType::TriangleList);

    Ref wideHold(new IndexBuffer(0));
    auto& wide = *wideHold.getCounted<IndexBuffer>();
    wide.setElementSize(4);
    visuals::fillQuadIndices(wide, 1, 70000);
    EXPECT_EQ(indicesOf(wide), (std::vector<u32> { 70000, 70001, 70002, 70000, 70002, 70003 }));
}

TEST_F(BatchVisualTest, UnitQuadIsAFourVertexStrip)
{
    Ref hold(new VertexBuffer(0));
    auto& vb = *hold.getCounted<VertexBuffer>();
    visuals::buildUnitQuad(vb);
    ASSERT_EQ(vb.vertexCount(), 4u);
    EXPECT_EQ(vb.format().stride, 32u);
    EXPECT_EQ(vb.primitiveType(), PrimitiveType::TriangleStrip);
    f32 v[4][8];
    std::memcpy(v, vb.lockVertices(Lock::Read, 0, 4), sizeof v);
    vb.unlockVertices();
    const f32 expected[4][4] = { { -1, -1, 0, 0 }, { 1, -1, 1, 0 }, { -1, 1, 0, 1 }, { 1, 1, 1, 1 } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i][0], expected[i][0]);
        EXPECT_EQ(v[i][1], expected[i][1]);
        EXPECT_EQ(v[i][5], -1.0f);
        EXPECT_EQ(v[i][6], expected[i][2]);
        EXPECT_EQ(v[i][7], expected[i][3]);
    }
}

} // namespace
} // namespace quern::test
