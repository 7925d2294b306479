#include "quern/graphics/VertexBuffer.h"

#include "quern/debug/Logger.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/language/RefCounted.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using graphics::BufferChangeListener;
using graphics::DisplayBuffer;
using graphics::PrimitiveType;
using graphics::VertexBuffer;
using graphics::VertexFormat;
using graphics::vertexFormatFromString;
using Lock = containers::BufferBase::Lock;
namespace BufferUsage = graphics::BufferUsage;

constexpr u32 kStaticDraw = BufferUsage::Static | BufferUsage::Draw;

// Collects the log lines of one level while it lives.
class LogLines {
public:
    explicit LogLines(i32 level)
        : m_level(level)
    {
        debug::getLogger()->buffer().addSink(&m_text, level);
    }
    ~LogLines() { debug::getLogger()->buffer().removeSink(&m_text, m_level); }
    std::string text() const { return m_text.str(); }

private:
    i32 m_level;
    std::stringbuf m_text;
};

class CountingListener final : public BufferChangeListener {
public:
    void bufferChanged(DisplayBuffer*) override { ++calls; }
    int calls = 0;
};

// A buffer in `format` holding the floats given, vertex after vertex.
void fill(VertexBuffer& buffer, const char* format, const std::vector<f32>& floats)
{
    buffer.setVertexFormat(vertexFormatFromString(format));
    const u64 bytes = floats.size() * sizeof(f32);
    ASSERT_EQ(bytes % buffer.format().stride, 0u);
    buffer.resizeElements(bytes / buffer.format().stride);
    std::memcpy(buffer.lockVertices(Lock::Write, 0, buffer.vertexCount()), floats.data(), bytes);
    buffer.unlockVertices();
}

std::vector<f32> readFloats(VertexBuffer& buffer)
{
    std::vector<f32> floats(buffer.byteSize() / sizeof(f32));
    std::memcpy(floats.data(), buffer.lockVertices(Lock::Read, 0, buffer.vertexCount()), buffer.byteSize());
    buffer.unlockVertices();
    return floats;
}

TEST(VertexBuffer, StartsEmptyAsATriangleListWithOriginBounds)
{
    VertexBuffer buffer(kStaticDraw);
    EXPECT_EQ(buffer.kind(), graphics::DisplayBufferKind::Vertex);
    EXPECT_EQ(buffer.usage(), kStaticDraw);
    EXPECT_EQ(buffer.elementSize(), 1u);
    EXPECT_EQ(buffer.primitiveType(), PrimitiveType::TriangleList);
    EXPECT_EQ(buffer.format().count, 0u);
    EXPECT_EQ(buffer.radius(), 0.0f);
    EXPECT_FALSE(buffer.isSphereStale());
    EXPECT_FALSE(buffer.isBoxStale());
    for (const f32* v : { buffer.centre(), buffer.boxMin(), buffer.boxMax() })
        EXPECT_EQ(std::vector<f32>(v, v + 4), (std::vector<f32> { 0, 0, 0, 1 }));
}

TEST(VertexBuffer, FormatOfAnEmptyBufferSetsTheElementSize)
{
    VertexBuffer buffer(kStaticDraw);
    buffer.setVertexFormat(VertexFormat::fromFlags(0x105));
    EXPECT_EQ(buffer.elementSize(), 24u);
    EXPECT_EQ(buffer.byteSize(), 0u);
    buffer.resizeElements(3);
    EXPECT_EQ(buffer.vertexCount(), 3u);
}

TEST(VertexBuffer, AnEqualFormatChangesNothing)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position normal", std::vector<f32>(12, 1.0f));
    CountingListener listener;
    buffer.addListener(&listener);
    const u8* before = buffer.data();
    LogLines detail(4);
    buffer.setVertexFormat(vertexFormatFromString("POSITION normal(3f)"));
    EXPECT_EQ(buffer.data(), before);
    EXPECT_EQ(listener.calls, 0);
    EXPECT_EQ(detail.text().find("Converting"), std::string::npos);
    buffer.removeListener(&listener);
}

TEST(VertexBuffer, AStrideThatIsNotAMultipleOfFourIsLoggedAndApplied)
{
    VertexBuffer buffer(kStaticDraw);
    LogLines warnings(2);
    buffer.setVertexFormat(vertexFormatFromString("position n(3s)"));
    EXPECT_NE(warnings.text().find("Vertex size 18 is not a multiple of 4!"), std::string::npos);
    EXPECT_EQ(buffer.format().stride, 18u);
    EXPECT_EQ(buffer.elementSize(), 18u);
}

TEST(VertexBuffer, ConvertingKeepsAttributesPresentInBothFormats)
{
    VertexBuffer buffer(kStaticDraw);
    std::vector<f32> floats;
    for (int v = 0; v < 10; ++v)
        for (f32 value : { v + 0.1f, v + 0.2f, v + 0.3f, -1.0f, -2.0f, -3.0f })
            floats.push_back(value);
    fill(buffer, "position normal", floats);

    LogLines detail(4);
    buffer.setVertexFormat(vertexFormatFromString("position color"));
    EXPECT_NE(detail.text().find("Converting 10 vertices to new vertex format"), std::string::npos);
    ASSERT_EQ(buffer.vertexCount(), 10u);
    ASSERT_EQ(buffer.elementSize(), 16u);
    const std::vector<f32> converted = readFloats(buffer);
    for (int v = 0; v < 10; ++v) {
        EXPECT_EQ(converted[v * 4 + 0], v + 0.1f);
        EXPECT_EQ(converted[v * 4 + 1], v + 0.2f);
        EXPECT_EQ(converted[v * 4 + 2], v + 0.3f);
    }
}

TEST(VertexBuffer, ConvertingMovesAttributesToTheirNewOffsets)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position uv(2f)", { 1, 2, 3, 4, 5, 11, 12, 13, 14, 15 });
    buffer.setVertexFormat(vertexFormatFromString("uv(2f) extra(1f) position"));
    const std::vector<f32> converted = readFloats(buffer);
    ASSERT_EQ(converted.size(), 12u);
    EXPECT_EQ((std::vector<f32> { converted[0], converted[1], converted[3], converted[4], converted[5] }),
        (std::vector<f32> { 4, 5, 1, 2, 3 }));
    EXPECT_EQ((std::vector<f32> { converted[6], converted[7], converted[9], converted[10], converted[11] }),
        (std::vector<f32> { 14, 15, 11, 12, 13 }));
}

TEST(VertexBuffer, AWiderAttributeCopiesOnlyTheOldBytes)
{
    // uv grows from two to four floats: only its two old floats are copied,
    // never the next vertex's position (nor bytes past the last vertex).
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position uv(2f)", { 1, 2, 3, 4, 5, 11, 12, 13, 14, 15, 21, 22, 23, 24, 25 });
    buffer.setVertexFormat(vertexFormatFromString("position uv(4f)"));
    EXPECT_EQ(readFloats(buffer),
        (std::vector<f32> { 1, 2, 3, 4, 5, 0, 0, 11, 12, 13, 14, 15, 0, 0, 21, 22, 23, 24, 25, 0, 0 }));

    // And narrowing back keeps the first two.
    buffer.setVertexFormat(vertexFormatFromString("uv(1f) position"));
    EXPECT_EQ(readFloats(buffer), (std::vector<f32> { 4, 1, 2, 3, 14, 11, 12, 13, 24, 21, 22, 23 }));
}

TEST(VertexBuffer, BytesWrittenBeforeAnyFormatBecomeItsVertices)
{
    VertexBuffer buffer(kStaticDraw);
    const f32 positions[] = { 1, 2, 3, 4, 5, 6 };
    buffer.setSize(sizeof positions);
    std::memcpy(buffer.lockVertices(Lock::Write, 0, buffer.vertexCount()), positions, sizeof positions);
    buffer.unlockVertices();
    buffer.setVertexFormat(vertexFormatFromString("position"));
    EXPECT_EQ(buffer.vertexCount(), 2u);
    EXPECT_EQ(readFloats(buffer), std::vector<f32>(positions, positions + 6));
}

TEST(VertexBuffer, BoundsOfTwoPositions)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position", { 0, 0, 0, 2, 0, 0 });
    EXPECT_TRUE(buffer.isSphereStale());
    EXPECT_TRUE(buffer.isBoxStale());
    buffer.updateBoundingSphere();
    EXPECT_EQ(std::vector<f32>(buffer.centre(), buffer.centre() + 4), (std::vector<f32> { 1, 0, 0, 1 }));
    EXPECT_FLOAT_EQ(buffer.radius(), 1.00001f);
    EXPECT_FALSE(buffer.isBoxStale());
    EXPECT_EQ(std::vector<f32>(buffer.boxMax(), buffer.boxMax() + 4), (std::vector<f32> { 2, 0, 0, 1 }));
}

TEST(VertexBuffer, BoxCoversEveryPositionAtItsOffset)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "w(1f) position", { 99, -1, 5, 2, 99, 3, -4, 7, 99, 0, 0, -9 });
    buffer.updateBoundingBox();
    EXPECT_EQ(std::vector<f32>(buffer.boxMin(), buffer.boxMin() + 4), (std::vector<f32> { -1, -4, -9, 1 }));
    EXPECT_EQ(std::vector<f32>(buffer.boxMax(), buffer.boxMax() + 4), (std::vector<f32> { 3, 5, 7, 1 }));
}

TEST(VertexBuffer, AFarPositionGivesTheLargestRadius)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position", { 0, 0, 0, 0, 0, 1e30f });
    buffer.updateBoundingSphere();
    EXPECT_FLOAT_EQ(buffer.radius(), std::sqrt(FLT_MAX) + 1e-5f);
}

TEST(VertexBuffer, EmptyOrPositionlessBuffersHaveOriginBounds)
{
    VertexBuffer empty(kStaticDraw);
    empty.setVertexFormat(vertexFormatFromString("position"));
    empty.setSize(0);
    empty.updateBoundingSphere();
    empty.updateBoundingBox();
    EXPECT_EQ(std::vector<f32>(empty.boxMin(), empty.boxMin() + 4), (std::vector<f32> { 0, 0, 0, 1 }));
    EXPECT_EQ(std::vector<f32>(empty.boxMax(), empty.boxMax() + 4), (std::vector<f32> { 0, 0, 0, 1 }));
    EXPECT_EQ(empty.radius(), 0.0f);

    // A format without position floats is not read as positions: a colour of
    // four bytes must not be read as twelve.
    VertexBuffer colours(kStaticDraw);
    colours.setVertexFormat(vertexFormatFromString("color"));
    colours.resizeElements(3);
    colours.updateBoundingSphere();
    EXPECT_EQ(std::vector<f32>(colours.boxMax(), colours.boxMax() + 4), (std::vector<f32> { 0, 0, 0, 1 }));
    EXPECT_EQ(colours.radius(), 0.0f);

    VertexBuffer shortPositions(kStaticDraw);
    fill(shortPositions, "position(2f)", { 5, 5, 6, 6 });
    shortPositions.updateBoundingBox();
    EXPECT_EQ(
        std::vector<f32>(shortPositions.boxMax(), shortPositions.boxMax() + 4), (std::vector<f32> { 0, 0, 0, 1 }));
}

TEST(VertexBuffer, WritesMarkBoundsStaleAndTellListenersReadsDoNot)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position", { 0, 0, 0, 2, 0, 0 });
    buffer.updateBoundingSphere();
    CountingListener listener;
    buffer.addListener(&listener);

    buffer.lockVertices(Lock::Read, 0, 2);
    buffer.unlockVertices();
    EXPECT_EQ(listener.calls, 0);
    EXPECT_FALSE(buffer.isSphereStale());
    EXPECT_EQ(buffer.lockWord(), 0);

    f32* position = reinterpret_cast<f32*>(buffer.lockVertices(Lock::ReadWrite, 1, 1));
    EXPECT_EQ(buffer.lockWord(), 5);
    position[0] = 4;
    buffer.unlockVertices();
    EXPECT_EQ(buffer.lockWord(), 0);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_TRUE(buffer.isSphereStale());
    EXPECT_TRUE(buffer.isBoxStale());
    buffer.updateBoundingSphere();
    EXPECT_EQ(buffer.centre()[0], 2.0f);

    buffer.setSize(24);
    EXPECT_EQ(listener.calls, 2);
    buffer.removeListener(&listener);
}

TEST(VertexBuffer, LocksBeyondTheLastVertexAreFatal)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position", { 0, 0, 0, 2, 0, 0 });
    EXPECT_DEATH(buffer.lockVertices(Lock::Read, 1, 2), "Vertex lock beyond the end of the buffer");
    EXPECT_DEATH(buffer.lockVertices(Lock::Write, 3, 0), "Vertex lock beyond the end of the buffer");
}

TEST(VertexBuffer, DeviceObjectComputesBoundsUnlessDynamic)
{
    VertexBuffer stable(kStaticDraw);
    fill(stable, "position", { 0, 0, 0, 2, 0, 0 });
    stable.createDeviceObject();
    EXPECT_TRUE(stable.hasDeviceObject());
    EXPECT_FALSE(stable.isSphereStale());
    EXPECT_FALSE(stable.isBoxStale());

    // New memory gives the device object up first.
    stable.setSize(12);
    EXPECT_FALSE(stable.hasDeviceObject());

    VertexBuffer dynamic(BufferUsage::Dynamic | BufferUsage::Draw);
    fill(dynamic, "position", { 0, 0, 0, 2, 0, 0 });
    dynamic.createDeviceObject();
    EXPECT_TRUE(dynamic.isSphereStale());
    EXPECT_TRUE(dynamic.isBoxStale());
}

TEST(VertexBuffer, CopyIsDeepWithoutDeviceObjectOrListeners)
{
    VertexBuffer buffer(kStaticDraw);
    fill(buffer, "position", { 0, 0, 0, 2, 0, 0 });
    buffer.setPrimitiveType(PrimitiveType::LineList);
    buffer.createDeviceObject();
    CountingListener listener;
    buffer.addListener(&listener);

    VertexBuffer* copy = buffer.clone();
    EXPECT_NE(copy->data(), buffer.data());
    EXPECT_EQ(readFloats(*copy), readFloats(buffer));
    EXPECT_EQ(copy->format().toString(), "position(3f)");
    EXPECT_EQ(copy->primitiveType(), PrimitiveType::LineList);
    EXPECT_EQ(copy->radius(), buffer.radius());
    EXPECT_FALSE(copy->isSphereStale());
    EXPECT_FALSE(copy->hasDeviceObject());
    EXPECT_EQ(copy->changeListenerCount(), 0u);

    // Counted like every shared engine object: the last release deletes it.
    Ref held(copy);
    EXPECT_EQ(copy->refCount(), 1);
    buffer.removeListener(&listener);
}

TEST(VertexBuffer, ADisplayClosingForGoodKeepsTheVertices)
{
    graphics::Display::set(new graphics::NullDisplay());
    {
        VertexBuffer buffer(kStaticDraw);
        fill(buffer, "position", { 1, 2, 3 });
        buffer.createDeviceObject();
        EXPECT_TRUE(buffer.isRegisteredWithDisplay());
        graphics::Display::current()->context().notifyListeners(
            graphics::DisplayEvent { graphics::DisplayEvent::Closing, 1, 0 });
        EXPECT_FALSE(buffer.hasDeviceObject());
        EXPECT_EQ(readFloats(buffer), (std::vector<f32> { 1, 2, 3 }));
    }
    graphics::Display::set(nullptr);
}

TEST(VertexBuffer, PrintsBoundsFormatAndEveryAttribute)
{
    VertexBuffer buffer(kStaticDraw);
    buffer.setVertexFormat(vertexFormatFromString("position normal color uv(2f)"));
    buffer.resizeElements(2);
    u8* bytes = buffer.lockVertices(Lock::Write, 0, 2);
    const f32 first[] = { 0, 0, 0, 0, 1, 0 };
    const f32 second[] = { 2, 0, 0, 0, 0, 1 };
    const u8 colours[2][4] = { { 255, 0, 128, 1 }, { 1, 2, 3, 4 } };
    const f32 uv[2][2] = { { 0.5f, 0.25f }, { 1, 0 } };
    for (int v = 0; v < 2; ++v) {
        std::memcpy(bytes + v * 36, v ? second : first, 24);
        std::memcpy(bytes + v * 36 + 24, colours[v], 4);
        std::memcpy(bytes + v * 36 + 28, uv[v], 8);
    }
    buffer.unlockVertices();

    std::ostringstream text;
    text << buffer;
    EXPECT_EQ(text.str(),
        "Bounding sphere: center = 1, 0, 0, radius = 1.00001\n"
        "Bounding box: 0, 0, 0 --> 2, 0, 0\n"
        "vertices = 2\n"
        "format = position(3f) normal(3f) color(4ub) uv(2f)\n"
        "stride = 36\n"
        "pos: 0, 0, 0\n"
        "nor: 0, 1, 0\n"
        "color: 255, 0, 128, 1\n"
        "uv: 0.5, 0.25\n"
        "pos: 2, 0, 0\n"
        "nor: 0, 0, 1\n"
        "color: 1, 2, 3, 4\n"
        "uv: 1, 0\n");
}

TEST(VertexBuffer, PrintsAnEmptyBufferWithoutVertexLines)
{
    VertexBuffer buffer(kStaticDraw);
    std::ostringstream text;
    text << buffer;
    EXPECT_EQ(text.str(),
        "Bounding sphere: center = 0, 0, 0, radius = 0\n"
        "Bounding box: 0, 0, 0 --> 0, 0, 0\n"
        "vertices = 0\n"
        "format = \n"
        "stride = 0\n");
}

} // namespace
} // namespace quern::test
