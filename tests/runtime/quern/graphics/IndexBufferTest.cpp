#include "quern/graphics/IndexBuffer.h"

#include "quern/graphics/NullDisplay.h"
#include "quern/platform/ErrorReporting.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::BufferChangeListener;
using graphics::DisplayBuffer;
using graphics::IndexBuffer;
using graphics::IndexIterator;
using graphics::primitiveCountForIndices;
using graphics::PrimitiveType;
using Lock = containers::BufferBase::Lock;
namespace BufferUsage = graphics::BufferUsage;

constexpr u32 kStaticDraw = BufferUsage::Static | BufferUsage::Draw;

// Writes the values as little-endian indices of the given size.
void fill(IndexBuffer& buffer, const std::vector<u32>& values, u64 indexSize = 2,
    PrimitiveType type = PrimitiveType::TriangleList)
{
    buffer.setPrimitiveType(type);
    buffer.setElementSize(indexSize);
    buffer.resizeElements(values.size());
    u8* at = buffer.lockIndices(Lock::Write, 0, values.size());
    for (u32 value : values)
        for (u64 i = 0; i < indexSize; ++i)
            *at++ = static_cast<u8>(value >> (8 * i));
    buffer.unlockIndices();
}

std::vector<u32> read(IndexBuffer& buffer)
{
    std::vector<u32> values;
    for (IndexIterator it(buffer); !it.atEnd(); ++it)
        values.push_back(*it);
    return values;
}

IndexBuffer strip(const std::vector<u32>& values, u64 indexSize = 2)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, values, indexSize, PrimitiveType::TriangleStrip);
    return buffer;
}

class CountingListener final : public BufferChangeListener {
public:
    void bufferChanged(DisplayBuffer*) override { ++calls; }
    int calls = 0;
};

TEST(PrimitiveType, CountsPrimitivesForIndices)
{
    struct Case {
        PrimitiveType type;
        u64 n;
        u64 expected;
    };
    const Case cases[] = {
        { PrimitiveType::LineStrip, 5, 4 },
        { PrimitiveType::PointList, 7, 7 },
        { PrimitiveType::TriangleList, 7, 2 },
        { PrimitiveType::LineList, 7, 3 },
        { PrimitiveType::TriangleStrip, 5, 3 },
        { PrimitiveType::TriangleFan, 6, 4 },
        // Too few indices for one primitive give none, not a wrapped count.
        { PrimitiveType::TriangleStrip, 1, 0 },
        { PrimitiveType::TriangleFan, 2, 0 },
        { PrimitiveType::LineStrip, 0, 0 },
        { PrimitiveType::TriangleList, 0, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(primitiveCountForIndices(c.type, c.n), c.expected)
            << graphics::primitiveTypeName(c.type) << " " << c.n;
}

TEST(PrimitiveType, NamesAndInvalidValues)
{
    EXPECT_STREQ(graphics::primitiveTypeName(PrimitiveType::TriangleFan), "trianglefan");
    EXPECT_STREQ(graphics::primitiveTypeName(PrimitiveType::PointList), "pointlist");
    EXPECT_STREQ(graphics::primitiveTypeName(static_cast<PrimitiveType>(11)), "");
    EXPECT_DEATH(
        primitiveCountForIndices(static_cast<PrimitiveType>(20), 3), "Invalid enum value for type PrimitiveType");
}

TEST(IndexBuffer, StartsAsTwoByteTriangleListDrawnWhole)
{
    IndexBuffer buffer(kStaticDraw);
    EXPECT_EQ(buffer.kind(), graphics::DisplayBufferKind::Index);
    EXPECT_EQ(buffer.indexSize(), 2u);
    EXPECT_EQ(buffer.primitiveType(), PrimitiveType::TriangleList);
    EXPECT_EQ(buffer.start(), 0u);
    EXPECT_EQ(buffer.count(), -1);
    EXPECT_EQ(buffer.minIndex(), 0u);
    EXPECT_EQ(buffer.maxIndex(), 0u);
}

TEST(IndexBuffer, IndexSizeFollowsTheLargestVertexNumber)
{
    IndexBuffer buffer(kStaticDraw);
    buffer.setIndexSizeFor(65535);
    EXPECT_EQ(buffer.indexSize(), 2u);
    buffer.setIndexSizeFor(65536);
    EXPECT_EQ(buffer.indexSize(), 4u);
    buffer.setIndexSizeFor(3);
    EXPECT_EQ(buffer.indexSize(), 2u);
}

TEST(IndexBuffer, IteratorReadsEachIndexSize)
{
    for (u64 size : { 1u, 2u, 4u }) {
        IndexBuffer buffer(kStaticDraw);
        const std::vector<u32> values = { 0, 7, size == 1 ? 255u : size == 2 ? 65535u : 0x12345678u };
        fill(buffer, values, size);
        EXPECT_EQ(read(buffer), values) << size;
        EXPECT_EQ(buffer.lockWord(), 0) << size;
    }
    const u8 raw[] = { 1, 2, 3, 4, 5, 6 };
    IndexIterator odd(raw, raw + 6, 3);
    EXPECT_EQ(*odd, 0u); // sizes other than 1, 2 and 4 read 0
    EXPECT_EQ(odd.remaining(), 2u);
}

TEST(IndexBuffer, IteratorHoldsTheReadLockAndStopsAtItsEnd)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 4, 5, 6 });
    {
        IndexIterator it(buffer);
        EXPECT_EQ(buffer.lockWord(), 4);
        ++it;
        EXPECT_EQ(it.at(1), 6u);
        EXPECT_EQ(it.remaining(), 2u);
        EXPECT_DEATH(it.at(2), "Index iterator read past its end");
    }
    EXPECT_EQ(buffer.lockWord(), 0);
}

TEST(IndexBuffer, DegenerateTrianglesReduceTheStripCount)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 0, 1, 2, 2, 3, 3, 4, 5 }, 2, PrimitiveType::TriangleStrip);
    EXPECT_EQ(buffer.countDegenerateTriangles(), 4u);
    EXPECT_EQ(buffer.getPrimitiveCount(8), 2u);
    EXPECT_EQ(buffer.getPrimitiveCount(0), 0u);
    // More degenerates than the asked-for count allows: none, not a wrapped count.
    EXPECT_EQ(buffer.getPrimitiveCount(4), 0u);

    fill(buffer, { 0, 1, 2, 2, 3, 3 }, 2, PrimitiveType::TriangleList);
    EXPECT_EQ(buffer.getPrimitiveCount(6), 2u);
}

TEST(IndexBuffer, IndexRangeFromTheDrawStart)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 9, 1, 5, 7, 3 });
    u32 min = 0, max = 0;
    buffer.computeIndexRange(min, max);
    EXPECT_EQ(min, 1u);
    EXPECT_EQ(max, 9u);
    buffer.setDrawRange(2, 3);
    buffer.computeIndexRange(min, max);
    EXPECT_EQ(min, 3u);
    EXPECT_EQ(max, 7u);
    buffer.setDrawRange(5, -1);
    buffer.computeIndexRange(min, max);
    EXPECT_EQ(min, 0xffffffffu);
    EXPECT_EQ(max, 0u);
}

TEST(IndexBuffer, DeviceObjectCachesTheRangeAndReleaseClearsIt)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 9, 1, 5 });
    buffer.createDeviceObject();
    EXPECT_EQ(buffer.minIndex(), 1u);
    EXPECT_EQ(buffer.maxIndex(), 9u);
    buffer.releaseDeviceObject();
    EXPECT_EQ(buffer.minIndex(), 0u);
    EXPECT_EQ(buffer.maxIndex(), 0u);

    IndexBuffer dynamic(BufferUsage::Dynamic | BufferUsage::Draw);
    fill(dynamic, { 9, 1, 5 });
    dynamic.createDeviceObject();
    EXPECT_EQ(dynamic.maxIndex(), 0u);
}

TEST(IndexBuffer, WritesAndNewMemoryTellListeners)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 0, 1, 2 });
    buffer.createDeviceObject();
    CountingListener listener;
    buffer.addListener(&listener);
    read(buffer);
    EXPECT_EQ(listener.calls, 0);
    buffer.lockIndices(Lock::Write, 1, 1);
    buffer.unlockIndices();
    EXPECT_EQ(listener.calls, 1);
    buffer.setSize(12);
    EXPECT_EQ(listener.calls, 2);
    EXPECT_FALSE(buffer.hasDeviceObject());
    EXPECT_DEATH(buffer.lockIndices(Lock::Read, 0, 7), "Index lock beyond the end of the buffer");
    buffer.removeListener(&listener);
}

TEST(IndexBuffer, CopyIsDeepWithoutDeviceObjectOrListeners)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 3, 4, 5 }, 4, PrimitiveType::TriangleStrip);
    buffer.setDrawRange(1, 2);
    buffer.createDeviceObject();
    CountingListener listener;
    buffer.addListener(&listener);

    IndexBuffer* copy = buffer.clone();
    EXPECT_NE(copy->data(), buffer.data());
    EXPECT_EQ(read(*copy), (std::vector<u32> { 3, 4, 5 }));
    EXPECT_EQ(copy->indexSize(), 4u);
    EXPECT_EQ(copy->primitiveType(), PrimitiveType::TriangleStrip);
    EXPECT_EQ(copy->start(), 1u);
    EXPECT_EQ(copy->count(), 2);
    EXPECT_EQ(copy->minIndex(), 4u);
    EXPECT_EQ(copy->maxIndex(), 5u);
    EXPECT_FALSE(copy->hasDeviceObject());
    EXPECT_EQ(copy->changeListenerCount(), 0u);
    Ref held(copy);
    buffer.removeListener(&listener);
}

TEST(IndexBuffer, ADisplayClosingForGoodKeepsTheIndices)
{
    graphics::Display::set(new graphics::NullDisplay());
    {
        IndexBuffer buffer(kStaticDraw);
        fill(buffer, { 1, 2, 3 });
        buffer.createDeviceObject();
        graphics::Display::current()->context().notifyListeners(
            graphics::DisplayEvent { graphics::DisplayEvent::Closing, 1, 0 });
        EXPECT_FALSE(buffer.hasDeviceObject());
        EXPECT_EQ(buffer.maxIndex(), 0u);
        EXPECT_EQ(read(buffer), (std::vector<u32> { 1, 2, 3 }));
    }
    graphics::Display::set(nullptr);
}

TEST(IndexBuffer, ConcatenatesTriangleListsWithoutOffsettingTheSecond)
{
    IndexBuffer a(kStaticDraw), b(kStaticDraw), out(kStaticDraw);
    fill(a, { 0, 1, 2 });
    fill(b, { 0, 2, 3, 3, 4, 5 });
    IndexBuffer::concatenate(a, b, out);
    EXPECT_EQ(read(out), (std::vector<u32> { 0, 1, 2, 0, 2, 3, 3, 4, 5 }));
    EXPECT_EQ(out.primitiveType(), PrimitiveType::TriangleList);
    EXPECT_EQ(out.indexSize(), 2u);
}

TEST(IndexBuffer, ConcatenatedStripsKeepTheSecondStripsWinding)
{
    struct Case {
        std::vector<u32> a, b, expected;
    };
    const Case cases[] = {
        // An even first strip: the last of a and the first of b bridge them.
        { { 0, 1, 2, 3 }, { 4, 5, 6 }, { 0, 1, 2, 3, 3, 4, 4, 5, 6 } },
        // An odd first strip repeats its last index once more, so that b's
        // first triangle again starts at an even position.
        { { 0, 1, 2 }, { 3, 4, 5 }, { 0, 1, 2, 2, 2, 3, 3, 4, 5 } },
        { { 7 }, { 8, 9, 10 }, { 7, 7, 7, 8, 8, 9, 10 } },
        // Joining with an empty strip keeps the other.
        { {}, { 3, 4, 5 }, { 3, 4, 5 } },
        { { 0, 1, 2 }, {}, { 0, 1, 2 } },
    };
    for (const Case& c : cases) {
        IndexBuffer a = strip(c.a), b = strip(c.b), out(kStaticDraw);
        IndexBuffer::concatenate(a, b, out);
        const std::vector<u32> joined = read(out);
        EXPECT_EQ(joined, c.expected);
        EXPECT_EQ(out.primitiveType(), PrimitiveType::TriangleStrip);
        if (c.a.empty() || c.b.empty())
            continue;
        // b's first triangle sits at an even position of the joined strip, and
        // only the two strips' own triangles are not degenerate.
        const u64 firstOfB = joined.size() - c.b.size();
        EXPECT_EQ(firstOfB % 2, 0u);
        EXPECT_EQ(out.getPrimitiveCount(joined.size()),
            primitiveCountForIndices(PrimitiveType::TriangleStrip, c.a.size())
                + primitiveCountForIndices(PrimitiveType::TriangleStrip, c.b.size()));
    }
}

TEST(IndexBuffer, ConcatenateIntoOneOfItsInputs)
{
    IndexBuffer a = strip({ 0, 1, 2, 3 });
    IndexBuffer b = strip({ 4, 5, 6 });
    IndexBuffer::concatenate(a, b, a);
    EXPECT_EQ(read(a), (std::vector<u32> { 0, 1, 2, 3, 3, 4, 4, 5, 6 }));
}

TEST(IndexBuffer, ConcatenateWritesTheSecondInTheFirstsIndexSize)
{
    IndexBuffer a = strip({ 0, 1, 2, 3 }, 4);
    IndexBuffer b = strip({ 300, 301, 302 }, 2);
    IndexBuffer out(kStaticDraw);
    IndexBuffer::concatenate(a, b, out);
    EXPECT_EQ(out.indexSize(), 4u);
    EXPECT_EQ(read(out), (std::vector<u32> { 0, 1, 2, 3, 3, 300, 300, 301, 302 }));

    IndexBuffer small = strip({ 0, 1, 2 }, 1);
    IndexBuffer wide = strip({ 70000, 70001, 70002 }, 4);
    EXPECT_DEATH(IndexBuffer::concatenate(small, wide, out), "Index does not fit the index size");
}

TEST(IndexBuffer, ConcatenateOfOtherTypesOnlyAssertsSoftly)
{
    static std::string message;
    debug::setSoftAssertCallback([](const char* text, const char*, const char*, u32) {
        message = text;
        return false;
    });
    IndexBuffer a(kStaticDraw), b(kStaticDraw), out(kStaticDraw);
    fill(a, { 0, 1 }, 2, PrimitiveType::LineList);
    fill(b, { 2, 3 }, 2, PrimitiveType::LineList);
    fill(out, { 9 }, 4, PrimitiveType::PointList);
    IndexBuffer::concatenate(a, b, out);
    debug::setSoftAssertCallback(nullptr);
    EXPECT_EQ(message, "Unsupported primitive type");
    EXPECT_EQ(read(out), std::vector<u32> { 9 });
    EXPECT_EQ(out.primitiveType(), PrimitiveType::PointList);

    a.setPrimitiveType(static_cast<PrimitiveType>(3));
    EXPECT_DEATH(IndexBuffer::concatenate(a, b, out), "Invalid enum value for type PrimitiveType");
}

TEST(IndexBuffer, PrintsItsSummaryAndEveryIndex)
{
    IndexBuffer buffer(kStaticDraw);
    fill(buffer, { 4, 1, 2, 2, 3 }, 2, PrimitiveType::TriangleStrip);
    buffer.setDrawRange(1, -1);
    std::ostringstream text;
    text << buffer;
    EXPECT_EQ(text.str(),
        "type = trianglestrip\n"
        "indices = 5\n"
        "stride = 2\n"
        "primitives = 1\n"
        "minimum = 1\n"
        "maximum = 4\n"
        "start = 1\n"
        "count = -1\n"
        "0: 4\n1: 1\n2: 2\n3: 2\n4: 3\n");

    IndexBuffer empty(kStaticDraw);
    std::ostringstream none;
    none << empty;
    EXPECT_EQ(none.str(),
        "type = trianglelist\nindices = 0\nstride = 2\nprimitives = 0\nminimum = 0\nmaximum = 0\n"
        "start = 0\ncount = -1\n");
}

} // namespace
} // namespace quern::test
