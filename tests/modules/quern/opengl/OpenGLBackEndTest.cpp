#include "OpenGLDisplayFixture.h"

#include "quern/graphics/DisplayWindow.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/opengl/OpenGLFrameBufferObject.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/OpenGLWindowRenderTarget.h"

#include <array>
#include <sstream>
#include <string>
#include <vector>

namespace quern::opengl::testing {
namespace {

TEST_F(OpenGLDisplayTest, ClearFillsTheWindowAndReadPixelsReadsItBack)
{
    const f32 colour[4] = { 1.0f, 0.0f, 1.0f, 1.0f };
    device().clear(graphics::GraphicsBackEnd::ClearColour | graphics::GraphicsBackEnd::ClearDepth, colour);
    const Frame frame = readWindow();
    ASSERT_EQ(frame.width, 320u);
    ASSERT_EQ(frame.height, 240u);
    for (auto [x, y] : { std::pair { 0u, 0u }, std::pair { 319u, 239u }, std::pair { 160u, 100u } }) {
        EXPECT_EQ(frame.at(x, y)[0], 255);
        EXPECT_EQ(frame.at(x, y)[1], 0);
        EXPECT_EQ(frame.at(x, y)[2], 255);
    }
    device().present();
}

TEST_F(OpenGLDisplayTest, ReadPixelsPacksRowsWhoseWidthIsNotAMultipleOfFour)
{
    // 1366 x 3 bytes is not a multiple of four: padded rows would write past
    // the image and shear every row after the first.
    open(1366, 768);
    const f32 black[4] = { 0, 0, 0, 1 };
    device().clear(graphics::GraphicsBackEnd::ClearColour, black);
    glEnable(GL_SCISSOR_TEST);
    glScissor(1365, 0, 1, 768);
    const f32 white[4] = { 1, 1, 1, 1 };
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    (void)white;
    const Frame frame = readWindow();
    ASSERT_EQ(frame.width, 1366u);
    ASSERT_EQ(frame.height, 768u);
    for (u32 y : { 0u, 1u, 400u, 767u }) {
        EXPECT_EQ(frame.at(1365, y)[0], 255) << y;
        EXPECT_EQ(frame.at(0, y)[0], 0) << y;
        EXPECT_EQ(frame.at(1364, y)[0], 0) << y;
    }
}

TEST_F(OpenGLDisplayTest, ClearWithDepthMarksTheDefaultShadersEntriesDirty)
{
    graphics::StateObjectCache& cache = *display->context().stateObjectCache;
    graphics::Shader* shader = cache.defaultShader();
    const graphics::VertexFormat format = graphics::VertexFormat::fromFlags(graphics::VertexFormat::kHasPosition);
    cache.getStateObject(shader, &format);
    ASSERT_GT(cache.entryCount(), 0u);
    EXPECT_EQ(cache.entry(0).dirty, 0);
    const f32 colour[4] = {};
    device().clear(graphics::GraphicsBackEnd::ClearColour, colour);
    EXPECT_EQ(cache.entry(0).dirty, 0);
    device().clear(graphics::GraphicsBackEnd::ClearDepth, colour);
    EXPECT_EQ(cache.entry(0).dirty, 1);
    GLboolean mask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_EQ(mask, GL_TRUE);
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
}

TEST_F(OpenGLDisplayTest, ViewportsWithoutAreaChangeNothing)
{
    const i32 set[4] = { 10, 20, 30, 40 };
    device().setViewport(set);
    for (const auto& rect : { std::array<i32, 4> { 0, 0, 0, 50 }, std::array<i32, 4> { 0, 0, -5, 50 } })
        device().setViewport(rect.data());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 10);
    EXPECT_EQ(viewport[3], 40);
}

TEST_F(OpenGLDisplayTest, CapabilitiesAreScannedOnEveryCallAndKeepTheVertexBufferSwitch)
{
    graphics::DisplayCaps* caps = device().getCapabilities();
    EXPECT_GE(caps->textureUnits, 8u);
    caps->textureUnits = 0;
    caps->vertexBuffersDisabled = 1;
    caps = device().getCapabilities();
    EXPECT_GE(caps->textureUnits, 8u);
    EXPECT_EQ(caps->vertexBuffersDisabled, 1);
    caps->vertexBuffersDisabled = 0;
}

TEST_F(OpenGLDisplayTest, TheWindowTargetPrintsTheModeAndBindsFrameBufferZeroOnlyWithObjects)
{
    Ref target(device().createWindowRenderTarget());
    std::ostringstream text;
    target.get<graphics::TextureRenderTarget>()->printTextures(text);
    EXPECT_EQ(text.str().rfind("OpenGL frame buffer (320x240, ", 0), 0u) << text.str();
    // Mesa's quirk leaves frame-buffer objects off; bind must leave a bound
    // frame buffer alone then.
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    target.get<graphics::TextureRenderTarget>()->bind();
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), device().caps().ARB_framebuffer_object ? 0u : fbo);
    device().mutableCaps().ARB_framebuffer_object = 1;
    Ref withObjects(device().createWindowRenderTarget());
    withObjects.get<graphics::TextureRenderTarget>()->bind();
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    glDeleteFramebuffers(1, &fbo);
    device().getCapabilities();
}

TEST_F(OpenGLDisplayTest, TexturesAreBoundOnlyWhenTheUnitHoldsSomethingElse)
{
    graphics::StateObjectCache& cache = *display->context().stateObjectCache;
    const graphics::VertexFormat format = graphics::VertexFormat::fromFlags(graphics::VertexFormat::kHasPosition);
    device().bindStateObject(cache.getStateObject(cache.defaultShader(), &format));
    graphics::PixelBuffer* a = device().createPixelBuffer(graphics::GraphicsBackEnd::TextureImage);
    graphics::PixelBuffer* b = device().createPixelBuffer(graphics::GraphicsBackEnd::TextureImage);
    Ref holdA(a);
    Ref holdB(b);
    const u8 texels[16] = {};
    for (graphics::PixelBuffer* image : { a, b })
        image->setData(texels, graphics::PixelBufferFormat::create2D(2, 2, graphics::PixelFormat::A8B8G8R8, 0, 0, 0),
            nullptr, OpenGLPixelBuffer::NoMipLevels);
    graphics::PixelBuffer* images[8] = { a };
    device().bindTextures(2, images, 1);
    auto boundOnUnitZero = [] {
        glActiveTexture(GL_TEXTURE0);
        GLint name = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
        glActiveTexture(GL_TEXTURE7);
        return static_cast<u32>(name);
    };
    EXPECT_EQ(boundOnUnitZero(), static_cast<OpenGLPixelBuffer*>(a)->name());
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE7);
    // Something else binds behind the device's back: within a dispatch the
    // device trusts its record, and the next dispatch (unbind) forgets it.
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, static_cast<OpenGLPixelBuffer*>(b)->name());
    glActiveTexture(GL_TEXTURE7);
    device().bindTextures(2, images, 1);
    EXPECT_EQ(boundOnUnitZero(), static_cast<OpenGLPixelBuffer*>(b)->name());
    device().unbindStateObject();
    device().bindStateObject(cache.getStateObject(cache.defaultShader(), &format));
    device().bindTextures(2, images, 1);
    EXPECT_EQ(boundOnUnitZero(), static_cast<OpenGLPixelBuffer*>(a)->name());
    images[0] = b;
    device().bindTextures(2, images, 1);
    EXPECT_EQ(boundOnUnitZero(), static_cast<OpenGLPixelBuffer*>(b)->name());
}

TEST_F(OpenGLDisplayTest, RenderTargetsAreCopyTargetsUnderMesasQuirk)
{
    Ref target(device().createRenderTarget());
    if (device().caps().ARB_framebuffer_object || device().caps().EXT_framebuffer_object)
        EXPECT_NE(dynamic_cast<OpenGLFrameBufferObject*>(target.get<graphics::TextureRenderTarget>()), nullptr);
    else
        EXPECT_NE(dynamic_cast<OpenGLTextureRenderTarget*>(target.get<graphics::TextureRenderTarget>()), nullptr);
}

class RecordingWindow final : public graphics::DisplayWindow {
public:
    void setWindowState(i32) override { }
    i32 getWindowState() override { return 0; }
    void setTitle(const char*) override { }
    void setIcon(const graphics::PixelBuffer&) override { }
    void setCursorImage(const graphics::PixelBuffer*, i32, i32) override { }
    void swapBuffers() override { calls.push_back("swap"); }
    void afterSwap() override { calls.push_back("after swap"); }
    void* getNativeHandle() override { return nullptr; }
    std::vector<std::string> calls;
};

TEST(OpenGLBackEnd, PresentSwapsThroughTheWindowThenRunsItsPostSwapStep)
{
    OpenGLBackEnd device;
    RecordingWindow window;
    graphics::BackEndInitParams params;
    params.maxStateObjects = 16;
    params.window = &window;
    device.init(params);
    EXPECT_TRUE(device.initialised());
    device.present();
    EXPECT_EQ(window.calls, (std::vector<std::string> { "swap", "after swap" }));
    device.shutdown();
    EXPECT_FALSE(device.initialised());
    // After shutdown the device has no window and destroying does nothing.
    device.present();
    device.destroyStateObject(0x10000);
    EXPECT_EQ(window.calls.size(), 2u);
}

} // namespace
} // namespace quern::opengl::testing
