#include "OpenGLDisplayFixture.h"

#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/graphics/Texture.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLFrameBufferObject.h"
#include "quern/opengl/OpenGLPixelBuffer.h"

#include <array>

namespace quern::opengl::testing {
namespace {

class OpenGLRenderTargetTest : public OpenGLDisplayTest {
protected:
    // A texture around a render-target image of that layout; `samples` above
    // 1 makes a multisample image.
    graphics::Texture* image(u32 width, u32 height, const graphics::PixelFormat& format, i32 samples = 1)
    {
        auto* pixels
            = static_cast<OpenGLPixelBuffer*>(device().createPixelBuffer(graphics::GraphicsBackEnd::RenderTargetImage));
        graphics::PixelBufferFormat layout = graphics::PixelBufferFormat::create2D(width, height, format, 0, 0, 0);
        layout.layerCount = samples;
        pixels->create(layout, OpenGLPixelBuffer::NoMipLevels);
        auto* texture = new graphics::Texture(pixels);
        held.emplace_back(texture);
        return texture;
    }
    static OpenGLPixelBuffer& pixelsOf(graphics::Texture* texture)
    {
        return *static_cast<OpenGLPixelBuffer*>(texture->pixelBuffer());
    }
    // The RGBA bytes of a colour texture's pixel.
    static std::array<u8, 4> texel(graphics::Texture* texture, u32 x, u32 y)
    {
        OpenGLPixelBuffer& pixels = pixelsOf(texture);
        std::vector<u8> rgba(static_cast<u64>(pixels.format().width) * pixels.format().height * 4);
        glBindTexture(pixels.target(), pixels.name());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(pixels.target(), 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        glBindTexture(pixels.target(), 0);
        const u8* p = &rgba[(static_cast<u64>(y) * pixels.format().width + x) * 4];
        return { p[0], p[1], p[2], p[3] };
    }
    static f32 depthTexel(graphics::Texture* texture)
    {
        OpenGLPixelBuffer& pixels = pixelsOf(texture);
        std::vector<f32> depth(static_cast<u64>(pixels.format().width) * pixels.format().height);
        glBindTexture(pixels.target(), pixels.name());
        glGetTexImage(pixels.target(), 0, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
        glBindTexture(pixels.target(), 0);
        return depth[0];
    }
    void clearTo(f32 r, f32 g, f32 b, f32 depth = 1.0f)
    {
        const f32 colour[4] = { r, g, b, 1.0f };
        clearFrameBufferWithDepth(colour, depth);
    }
    void clearFrameBufferWithDepth(const f32 colour[4], f32 depth)
    {
        glClearColor(colour[0], colour[1], colour[2], colour[3]);
        glClearDepth(depth);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    OpenGLFrameBufferObject* frameBuffer()
    {
        auto* target = new OpenGLFrameBufferObject(&device().caps(), display->context().stateObjectCache);
        held.emplace_back(target);
        return target;
    }
    OpenGLTextureRenderTarget* copyTarget()
    {
        auto* target = new OpenGLTextureRenderTarget(display->context().stateObjectCache);
        held.emplace_back(target);
        return target;
    }

    std::vector<Ref> held;
};

TEST_F(OpenGLRenderTargetTest, AFrameBufferObjectDrawsIntoItsColourTextureOverADepthRenderBuffer)
{
    OpenGLFrameBufferObject* target = frameBuffer();
    graphics::Texture* colour = image(64, 32, graphics::PixelFormat::A8B8G8R8);
    target->addTexture(colour);
    EXPECT_TRUE(target->isComplete());
    target->bind();
    EXPECT_EQ(OpenGLFrameBufferObject::current(), target);
    EXPECT_EQ(target->attachment(0), GL_COLOR_ATTACHMENT0);
    ASSERT_NE(target->depthRenderBufferName(), 0u);
    glBindRenderbuffer(GL_RENDERBUFFER, target->depthRenderBufferName());
    GLint width = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    EXPECT_EQ(width, 64);
    const f32 green[4] = { 0, 1, 0, 1 };
    target->clear(graphics::GraphicsBackEnd::ClearColour | graphics::GraphicsBackEnd::ClearDepth, green);
    target->unbind();
    EXPECT_EQ(OpenGLFrameBufferObject::current(), nullptr);
    EXPECT_EQ(texel(colour, 63, 31), (std::array<u8, 4> { 0, 255, 0, 255 }));

    // A new attachment drops the frame buffer; the next bind builds it again.
    target->addTexture(image(64, 32, graphics::PixelFormat::A8B8G8R8));
    EXPECT_EQ(target->frameBufferName(), 0u);
    target->bind();
    EXPECT_NE(target->frameBufferName(), 0u);
    EXPECT_EQ(target->attachment(1), GL_COLOR_ATTACHMENT1);
    target->unbind();
}

TEST_F(OpenGLRenderTargetTest, ADepthOnlyTargetDrawsToNoColourBuffer)
{
    OpenGLFrameBufferObject* target = frameBuffer();
    graphics::Texture* depth = image(32, 32, graphics::PixelFormat::D16);
    target->addTexture(depth);
    target->bind();
    EXPECT_EQ(target->attachment(0), GL_DEPTH_ATTACHMENT);
    EXPECT_EQ(target->depthRenderBufferName(), 0u);
    GLint drawBuffer = -1;
    GLint readBuffer = -1;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    glGetIntegerv(GL_READ_BUFFER, &readBuffer);
    EXPECT_EQ(drawBuffer, GL_NONE);
    EXPECT_EQ(readBuffer, GL_NONE);
    glClearDepth(0.25);
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    target->unbind();
    EXPECT_NEAR(depthTexel(depth), 0.25f, 1e-3f);
}

TEST_F(OpenGLRenderTargetTest, AMultisampleColourTargetGetsDepthOfTheSameSampleCount)
{
    if (!device().caps().ARB_texture_multisample)
        GTEST_SKIP() << "no multisample textures";
    OpenGLFrameBufferObject* target = frameBuffer();
    graphics::Texture* colour = image(32, 32, graphics::PixelFormat::A8B8G8R8, 4);
    ASSERT_EQ(pixelsOf(colour).target(), GL_TEXTURE_2D_MULTISAMPLE);
    target->addTexture(colour);
    // A single-sample depth buffer would make the frame buffer incomplete,
    // which is fatal at the bind.
    target->bind();
    EXPECT_TRUE(target->multisample());
    ASSERT_NE(target->depthTextureName(), 0u);
    GLint samples = 0;
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, target->depthTextureName());
    glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &samples);
    GLint textureSamples = 0;
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, pixelsOf(colour).name());
    glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &textureSamples);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, 0);
    EXPECT_EQ(samples, textureSamples);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GL_FRAMEBUFFER_COMPLETE);
    target->unbind();
}

TEST_F(OpenGLRenderTargetTest, AnSRGBTargetTurnsSRGBWritesOnAtEveryBind)
{
    if (!device().caps().EXT_framebuffer_sRGB)
        GTEST_SKIP() << "no sRGB frame buffers";
    OpenGLFrameBufferObject* target = frameBuffer();
    target->addTexture(image(8, 8, graphics::PixelFormat::A8B8G8R8));
    target->setSRGB(true);
    for (int bind = 0; bind < 2; ++bind) {
        target->bind();
        EXPECT_TRUE(glIsEnabled(GL_FRAMEBUFFER_SRGB)) << bind;
        target->unbind();
        EXPECT_FALSE(glIsEnabled(GL_FRAMEBUFFER_SRGB)) << bind;
    }
}

TEST_F(OpenGLRenderTargetTest, SeventeenColourTexturesLeaveTheLastWithoutAnAttachment)
{
    OpenGLFrameBufferObject* target = frameBuffer();
    for (int i = 0; i < 17; ++i)
        target->addTexture(image(8, 8, graphics::PixelFormat::A8B8G8R8));
    // The driver may refuse the set; the attachment points are the test.
    target->isComplete();
    glGetError();
    EXPECT_EQ(target->attachment(15), GL_COLOR_ATTACHMENT15);
    EXPECT_EQ(target->attachment(16), 0u);
}

using OpenGLRenderTargetDeathTest = OpenGLRenderTargetTest;

TEST_F(OpenGLRenderTargetDeathTest, AnIncompleteFrameBufferIsFatalAtTheBind)
{
    // A colour image with no storage leaves the frame buffer incomplete.
    auto* empty = new OpenGLPixelBuffer(graphics::GraphicsBackEnd::RenderTargetImage, &device().caps());
    auto* texture = new graphics::Texture(empty);
    held.emplace_back(texture);
    OpenGLFrameBufferObject* broken = frameBuffer();
    broken->addTexture(texture);
    EXPECT_DEATH(broken->bind(), "OpenGL FBO error: ");
}

TEST_F(OpenGLRenderTargetTest, ACopyTargetCopiesColourAndDepthEachFromItsOwnBuffer)
{
    OpenGLTextureRenderTarget* target = copyTarget();
    graphics::Texture* colour = image(32, 32, graphics::PixelFormat::A8B8G8R8);
    graphics::Texture* depth = image(32, 32, graphics::PixelFormat::D16);
    target->addTexture(colour);
    target->addTexture(depth);
    target->bind();
    EXPECT_EQ(OpenGLTextureRenderTarget::current(), target);
    clearTo(1.0f, 0.0f, 0.0f, 0.5f);
    target->unbind();
    EXPECT_EQ(OpenGLTextureRenderTarget::current(), nullptr);
    EXPECT_EQ(glGetError(), GL_NO_ERROR);
    EXPECT_EQ(texel(colour, 5, 5), (std::array<u8, 4> { 255, 0, 0, 255 }));
    // A shadow map holds the depth buffer, not the colour image.
    EXPECT_NEAR(depthTexel(depth), 0.5f, 1e-3f);
}

TEST_F(OpenGLRenderTargetTest, BindingASecondCopyTargetCopiesTheFirstOnesImage)
{
    OpenGLTextureRenderTarget* first = copyTarget();
    OpenGLTextureRenderTarget* second = copyTarget();
    graphics::Texture* a = image(16, 16, graphics::PixelFormat::A8B8G8R8);
    graphics::Texture* b = image(16, 16, graphics::PixelFormat::A8B8G8R8);
    first->addTexture(a);
    second->addTexture(b);
    first->bind();
    clearTo(0.0f, 0.0f, 1.0f);
    second->bind();
    EXPECT_EQ(texel(a, 0, 0), (std::array<u8, 4> { 0, 0, 255, 255 }));
    clearTo(1.0f, 1.0f, 0.0f);
    second->unbind();
    EXPECT_EQ(texel(b, 0, 0), (std::array<u8, 4> { 255, 255, 0, 255 }));
    EXPECT_EQ(texel(a, 0, 0), (std::array<u8, 4> { 0, 0, 255, 255 }));
}

TEST_F(OpenGLRenderTargetTest, OcclusionQueriesReportOnlyFinishedResults)
{
    graphics::OcclusionQuery* query = device().createQuery();
    u32 samples = 1234;
    EXPECT_FALSE(query->getResult(samples));
    EXPECT_EQ(samples, 1234u);
    query->begin();
    query->end();
    glFinish();
    EXPECT_TRUE(query->getResult(samples));
    EXPECT_EQ(samples, 0u);
    delete query;
}

TEST_F(OpenGLRenderTargetTest, ClosingTheDisplayDropsFrameBuffersAndShaderObjects)
{
    OpenGLFrameBufferObject* target = frameBuffer();
    target->addTexture(image(16, 16, graphics::PixelFormat::A8B8G8R8));
    target->bind();
    ASSERT_NE(target->frameBufferName(), 0u);
    auto* program = new GLSLShaderProgram(graphics::ShaderProgramType::Vertex);
    held.emplace_back(program);
    const graphics::EmbeddedProgramSource& source = graphics::glslProgramSource(graphics::EmbeddedProgram::UnlitVertex);
    program->setCode(source.text, source.length, source.name);
    ASSERT_NE(program->shaderName(), 0u);

    display->close();
    EXPECT_EQ(OpenGLFrameBufferObject::current(), nullptr);
    EXPECT_EQ(target->frameBufferName(), 0u);
    EXPECT_EQ(target->depthRenderBufferName(), 0u);
    EXPECT_EQ(target->attachment(0), 0u);
    EXPECT_EQ(program->shaderName(), 0u);
    EXPECT_EQ(program->state(), assets::Resource::Suspended);
    // Released while closed, the name stays for the next compile to replace.
    program->releaseDeviceObject();
    EXPECT_EQ(program->shaderName(), 0u);
}

} // namespace
} // namespace quern::opengl::testing
