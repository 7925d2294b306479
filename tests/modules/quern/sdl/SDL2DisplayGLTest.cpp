// The display's open step hands its GL entry points to the OpenGL back end.
// Kept apart from the other display tests: those call GL through the system
// header, which cannot share a file with the back end's generated one.

#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/opengl/GLExtensions.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2Library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace quern::test {
namespace {

TEST(SDL2DisplayGL, OpeningAContextLoadsTheBackEndsEntryPoints)
{
    unsetenv("SDL_VIDEODRIVER");
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X server";
    RecordingBackEnd device;
    graphics::DisplayConfiguration configuration;
    configuration.caption = "Quern entry points";
    configuration.openGL = 1;
    configuration.doubleBuffer = 1;
    configuration.contextProfile = 1; // any value but Core and Embedded: compatibility
    configuration.contextMajorVersion = 3;
    configuration.contextMinorVersion = 2;
    {
        sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::OpenGL);
        display.openWithVideoMode(makeMode(64, 48), configuration);
        ASSERT_TRUE(display.isOpen());

        // The pointers the back end draws with now answer on the new context.
        ASSERT_NE(opengl::glGetString, nullptr);
        const char* version = reinterpret_cast<const char*>(opengl::glGetString(opengl::GL_VERSION));
        ASSERT_NE(version, nullptr);
        EXPECT_NE(std::strstr(version, "Compatibility Profile"), nullptr) << version;
        EXPECT_TRUE(opengl::isExtensionSupported("GL_KHR_debug"));
        EXPECT_FALSE(opengl::isExtensionSupported("GL_QUERN_no_such_extension"));
        display.close();
    }
    sdl::shutdownSDL();
}

} // namespace
} // namespace quern::test
