#include "OpenGLDisplayFixture.h"

#include "runtime/quern/opengl/GLCallRecorder.h"
#include "support/LogCapture.h"

#include "quern/graphics/DisplayBuffer.h"
#include "quern/opengl/OpenGLBuffers.h"

#include <algorithm>
#include <memory>

namespace quern::opengl::testing {
namespace {

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u32 kDynamicDraw = graphics::BufferUsage::Dynamic | graphics::BufferUsage::Draw;
constexpr u64 kMegabyte = 1u << 20;

class OpenGLBuffersTest : public OpenGLDisplayTest {
protected:
    void SetUp() override
    {
        OpenGLDisplayTest::SetUp();
        OpenGLDisplayBuffer::resetStatistics();
    }
    OpenGLVertexBuffer* vertices(u64 bytes, u32 usage = kStaticDraw)
    {
        auto* buffer = static_cast<OpenGLVertexBuffer*>(device().createVertexBuffer(usage));
        held.emplace_back(buffer);
        buffer->setSize(bytes);
        return buffer;
    }
    OpenGLIndexBuffer* indices(u64 count)
    {
        auto* buffer = static_cast<OpenGLIndexBuffer*>(device().createIndexBuffer(kStaticDraw));
        held.emplace_back(buffer);
        buffer->setElementSize(2);
        buffer->setSize(count * 2);
        return buffer;
    }
    std::vector<Ref> held;
};

TEST_F(OpenGLBuffersTest, BufferObjectBytesAreReportedInTenMegabyteSteps)
{
    quern::testing::LogCapture log(3);
    OpenGLVertexBuffer* first = vertices(kMegabyte);
    first->createDeviceObject();
    EXPECT_EQ(first->device().storageMode(), OpenGLDisplayBuffer::BufferObject);
    EXPECT_NE(first->device().vboName(), 0u);
    EXPECT_NE(first->device().vaoName(), 0u);
    EXPECT_FALSE(log.contains("VBO memory"));
    vertices(12 * kMegabyte)->createDeviceObject();
    EXPECT_TRUE(log.contains("13MB VBO memory allocated overall"));
    vertices(8 * kMegabyte)->createDeviceObject();
    EXPECT_EQ(log.count("MB VBO memory allocated overall"), 1u);
    vertices(3 * kMegabyte)->createDeviceObject();
    EXPECT_TRUE(log.contains("24MB VBO memory allocated overall"));
    EXPECT_EQ(OpenGLDisplayBuffer::totalBytes(), 24 * kMegabyte);
    held.clear();
    EXPECT_TRUE(log.contains("All VBO memory freed"));
    EXPECT_EQ(OpenGLDisplayBuffer::totalBytes(), 0u);
}

TEST_F(OpenGLBuffersTest, ARefusedBufferObjectFallsBackToSystemMemory)
{
    quern::testing::LogCapture warnings(2);
    GLCallRecorder recorder;
    recorder.save(glGetBufferParameteriv);
    glGetBufferParameteriv = [](GLenum, GLenum, GLint* value) { *value = 0; };
    OpenGLVertexBuffer* buffer = vertices(1536);
    buffer->createDeviceObject();
    EXPECT_TRUE(warnings.contains("Failed to allocate 1.5K VBO memory, switching to system memory!"));
    EXPECT_TRUE(warnings.contains("Vertex buffer allocation failed, reverting to system memory"));
    EXPECT_EQ(buffer->device().storageMode(), OpenGLDisplayBuffer::SystemMemory);
    EXPECT_EQ(buffer->device().base(), reinterpret_cast<uintptr_t>(buffer->data()));
    vertices(100)->createDeviceObject();
    EXPECT_EQ(warnings.count("Vertex buffer allocation failed"), 1u);
    EXPECT_TRUE(warnings.contains("Failed to allocate 100B VBO memory"));
}

TEST_F(OpenGLBuffersTest, SwitchedOffBufferObjectsGiveSystemMemory)
{
    device().mutableCaps().vertexBuffersDisabled = 1;
    OpenGLVertexBuffer* buffer = vertices(64);
    buffer->createDeviceObject();
    device().mutableCaps().vertexBuffersDisabled = 0;
    EXPECT_EQ(buffer->device().storageMode(), OpenGLDisplayBuffer::SystemMemory);
    EXPECT_EQ(buffer->device().vboName(), 0u);
}

TEST_F(OpenGLBuffersTest, OnlyWriteLocksRespecifyTheWholeBufferObject)
{
    OpenGLVertexBuffer* buffer = vertices(4096, kDynamicDraw);
    buffer->setElementSize(16);
    buffer->createDeviceObject();
    GLCallRecorder recorder;
    QUERN_RECORD_GL(recorder, glBufferData);
    buffer->lock(containers::BufferBase::Lock::Read, 0, 1);
    buffer->unlock();
    EXPECT_TRUE(recorder.calls().empty());
    buffer->lock(containers::BufferBase::Lock::Write, 10, 1);
    buffer->unlock();
    ASSERT_EQ(recorder.calls().size(), 1u);
    EXPECT_EQ(recorder.calls()[0],
        glCall("glBufferData", GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(buffer->byteSize()),
            static_cast<const void*>(nullptr), GL_DYNAMIC_DRAW));
}

TEST_F(OpenGLBuffersTest, IndexedDrawsUseOffsetsIntoTheBufferObjectOrClientPointers)
{
    OpenGLVertexBuffer* buffer = vertices(36);
    OpenGLIndexBuffer* list = indices(6);
    OpenGLIndexBuffer* empty = indices(0);
    empty->setPrimitiveType(graphics::PrimitiveType::LineStrip);
    GLCallRecorder recorder;
    QUERN_RECORD_GL(recorder, glDrawArrays);
    recorder.save(glDrawElements);
    glDrawElements = [](GLenum mode, GLsizei count, GLenum type, const void* offset) {
        recordGLCall("glDrawElements", mode, count, type, reinterpret_cast<uintptr_t>(offset));
    };
    buffer->draw(list, 2, 3);
    EXPECT_EQ(recorder.calls().back(), glCall("glDrawElements", GL_TRIANGLES, 3, GL_UNSIGNED_SHORT, uintptr_t { 4 }));
    // An empty index buffer draws the vertices in its own primitive type.
    buffer->draw(empty, 1, 2);
    EXPECT_EQ(recorder.calls().back(), glCall("glDrawArrays", GL_LINE_STRIP, 1, 2));
    buffer->draw(nullptr, 0, 3);
    EXPECT_EQ(recorder.calls().back(), glCall("glDrawArrays", GL_TRIANGLES, 0, 3));

    device().mutableCaps().vertexBuffersDisabled = 1;
    OpenGLIndexBuffer* client = indices(6);
    client->createDeviceObject();
    device().mutableCaps().vertexBuffersDisabled = 0;
    buffer->draw(client, 2, 3);
    EXPECT_EQ(recorder.calls().back(),
        glCall("glDrawElements", GL_TRIANGLES, 3, GL_UNSIGNED_SHORT, reinterpret_cast<uintptr_t>(client->data()) + 4));
}

TEST_F(OpenGLBuffersTest, ACloneMakesItsOwnBufferObjects)
{
    OpenGLVertexBuffer* buffer = vertices(48);
    buffer->createDeviceObject();
    auto* clone = static_cast<OpenGLVertexBuffer*>(buffer->clone());
    held.emplace_back(clone);
    EXPECT_EQ(clone->device().vboName(), 0u);
    EXPECT_EQ(clone->device().storageMode(), OpenGLDisplayBuffer::BufferObjectRequested);
    clone->createDeviceObject();
    EXPECT_NE(clone->device().vboName(), 0u);
    EXPECT_NE(clone->device().vboName(), buffer->device().vboName());
    EXPECT_NE(clone->device().vaoName(), buffer->device().vaoName());
}

using OpenGLBuffersDeathTest = OpenGLBuffersTest;

TEST_F(OpenGLBuffersDeathTest, UnknownPrimitivesStridesAndUsagesAreFatal)
{
    OpenGLVertexBuffer* buffer = vertices(36);
    buffer->setPrimitiveType(static_cast<graphics::PrimitiveType>(20));
    EXPECT_DEATH(buffer->draw(nullptr, 0, 3), "Invalid enum value for type PrimitiveType");
    buffer->setPrimitiveType(graphics::PrimitiveType::TriangleList);
    OpenGLIndexBuffer* odd = indices(3);
    odd->setElementSize(3);
    EXPECT_DEATH(buffer->draw(odd, 0, 3), "Invalid index buffer stride");
    EXPECT_DEATH(device().createVertexBuffer(graphics::BufferUsage::Draw), "Unsupported vertex buffer usage");
}

} // namespace
} // namespace quern::opengl::testing
