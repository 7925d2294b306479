#pragma once
// An SDL2 display over the OpenGL device with a compatibility 3.2 context,
// installed as the global display for the test.

#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLBackEnd.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace quern::opengl::testing {

class OpenGLDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("SDL_VIDEODRIVER");
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server";
        open(320, 240);
    }
    void TearDown() override
    {
        graphics::Display::set(nullptr);
        display = nullptr;
        sdl::shutdownSDL();
    }

    void open(i32 width, i32 height)
    {
        graphics::Display::set(nullptr);
        display = new sdl::SDL2Display(&OpenGLBackEnd::instance(), graphics::GraphicsBackEndVersion::OpenGL);
        graphics::Display::set(display);
        graphics::DisplayConfiguration configuration;
        configuration.caption = "Quern OpenGL device";
        configuration.openGL = 1;
        configuration.doubleBuffer = 1;
        configuration.depthBits = 24;
        configuration.stencilBits = 8;
        configuration.contextProfile = 1; // compatibility
        configuration.contextMajorVersion = 3;
        configuration.contextMinorVersion = 2;
        display->openWithVideoMode(test::makeMode(width, height), configuration);
        ASSERT_TRUE(display->isOpen());
    }

    OpenGLBackEnd& device() { return OpenGLBackEnd::instance(); }

    // The window's pixels, bottom row first, three bytes each (R, G, B).
    struct Frame {
        u32 width = 0;
        u32 height = 0;
        std::vector<u8> rgb;
        const u8* at(u32 x, u32 y) const { return &rgb[(static_cast<u64>(y) * width + x) * 3]; }
    };
    Frame readWindow()
    {
        Ref target(device().createWindowRenderTarget());
        graphics::NullPixelBuffer image;
        target.get<graphics::TextureRenderTarget>()->readPixels(image);
        Frame frame;
        frame.width = image.format().width;
        frame.height = image.format().height;
        const u8* pixels = image.lockPixels();
        frame.rgb.assign(pixels, pixels + static_cast<u64>(frame.width) * frame.height * 3);
        image.unlockPixels();
        return frame;
    }
    // A 2D colour texture's pixels, bottom row first, three bytes each (R, G, B).
    static Frame readTexture(graphics::Texture* texture)
    {
        auto& pixels = *static_cast<OpenGLPixelBuffer*>(texture->pixelBuffer());
        Frame frame;
        frame.width = pixels.format().width;
        frame.height = pixels.format().height;
        frame.rgb.resize(static_cast<u64>(frame.width) * frame.height * 3);
        glBindTexture(GL_TEXTURE_2D, pixels.name());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, frame.rgb.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return frame;
    }

    sdl::SDL2Display* display = nullptr;
};

} // namespace quern::opengl::testing
