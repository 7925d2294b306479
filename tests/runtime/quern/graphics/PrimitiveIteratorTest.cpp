#include "quern/graphics/iterators/PrimitiveIterator.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace quern::graphics {
namespace {

using Triangle = std::array<u32, 3>;

std::vector<Triangle> walk(const std::vector<u32>& indices, PrimitiveType type, u64 indexSize = 2)
{
    std::vector<u8> bytes;
    for (u32 value : indices)
        for (u64 i = 0; i < indexSize; ++i)
            bytes.push_back(static_cast<u8>(value >> (8 * i)));
    IndexedTriangleIterator it(bytes.data(), bytes.data() + bytes.size(), indexSize, type);
    std::vector<Triangle> out;
    Triangle t;
    while (it.next(t.data()))
        out.push_back(t);
    return out;
}

std::vector<Triangle> walkVertices(PrimitiveType type, u64 count)
{
    VertexTriangleIterator it(type, count);
    std::vector<Triangle> out;
    Triangle t;
    while (it.next(t.data()))
        out.push_back(t);
    return out;
}

TEST(IndexedTriangleIterator, WalksEveryTriangleType)
{
    struct Case {
        const char* name;
        std::vector<u32> indices;
        PrimitiveType type;
        u64 indexSize;
        std::vector<Triangle> expected;
    };
    const Case cases[] = {
        { "list", { 0, 1, 2, 3, 4, 5, 6 }, PrimitiveType::TriangleList, 2, { { 0, 1, 2 }, { 3, 4, 5 } } },
        { "strip", { 0, 1, 2, 3 }, PrimitiveType::TriangleStrip, 2, { { 0, 1, 2 }, { 3, 2, 1 } } },
        { "long strip", { 0, 1, 2, 3, 4 }, PrimitiveType::TriangleStrip, 4, { { 0, 1, 2 }, { 3, 2, 1 }, { 2, 3, 4 } } },
        { "degenerate strip", { 0, 1, 1, 2 }, PrimitiveType::TriangleStrip, 2, {} },
        { "fan", { 4, 5, 6, 7, 8 }, PrimitiveType::TriangleFan, 1, { { 4, 5, 6 }, { 4, 6, 7 }, { 4, 7, 8 } } },
        { "degenerate in a list", { 0, 0, 1, 2, 3, 4 }, PrimitiveType::TriangleList, 2, { { 2, 3, 4 } } },
        { "too short", { 0, 1 }, PrimitiveType::TriangleStrip, 2, {} },
        { "wide indices", { 70000, 70001, 70002 }, PrimitiveType::TriangleList, 4, { { 70000, 70001, 70002 } } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(walk(c.indices, c.type, c.indexSize), c.expected) << c.name;
}

TEST(IndexedTriangleIterator, LineAndPointTypesHoldNoTriangles)
{
    for (PrimitiveType type : { PrimitiveType::LineList, PrimitiveType::LineStrip, PrimitiveType::PointList })
        EXPECT_TRUE(walk({ 0, 1, 2, 3 }, type).empty());
}

TEST(VertexTriangleIterator, WalksEveryTriangleType)
{
    EXPECT_EQ(walkVertices(PrimitiveType::TriangleList, 7), (std::vector<Triangle> { { 0, 1, 2 }, { 3, 4, 5 } }));
    EXPECT_EQ(walkVertices(PrimitiveType::TriangleStrip, 5),
        (std::vector<Triangle> { { 0, 1, 2 }, { 3, 2, 1 }, { 2, 3, 4 } }));
    EXPECT_EQ(walkVertices(PrimitiveType::TriangleFan, 4), (std::vector<Triangle> { { 0, 1, 2 }, { 0, 2, 3 } }));
    EXPECT_TRUE(walkVertices(PrimitiveType::TriangleFan, 2).empty());
    EXPECT_TRUE(walkVertices(PrimitiveType::LineStrip, 6).empty());
}

TEST(PrimitiveIteratorDeathTest, AnInvalidTypeIsFatal)
{
    const u8 bytes[6] = {};
    EXPECT_DEATH(IndexedTriangleIterator(bytes, bytes + 6, 2, static_cast<PrimitiveType>(11)),
        "Invalid enum value for type PrimitiveType");
    EXPECT_DEATH(VertexTriangleIterator(static_cast<PrimitiveType>(0), 3), "Invalid enum value for type PrimitiveType");
    EXPECT_DEATH(verticesPerPrimitive(static_cast<PrimitiveType>(34)), "Invalid enum value for type PrimitiveType");
}

} // namespace
} // namespace quern::graphics
