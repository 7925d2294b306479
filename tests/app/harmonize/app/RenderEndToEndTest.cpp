// The game draws a demo level through OpenGL: the App on the playground with
// the default Renderer settings and shadows, in a window of another shape
// than the frame, at a fixed time step. The frame is read back from the
// window, saved as a PNG in the build folder for a person to look at, and
// checked where its parts must land.

#include "harmonize/app/App.h"

#include "harmonize/Settings.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/events/AppEventDispatch.h"
#include "harmonize/systems/LightingSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/io/HomeFileSystem.h"
#include "runtime/quern/platform/TemporaryDirectory.h"

#include "PlaygroundGame.h"
#include "modules/quern/opengl/PngWriter.h"
#include "support/harmonize/SmallWindowSettings.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace harmonize {
namespace {

namespace fs = std::filesystem;

constexpr i32 kWindowWidth = 1000; // 5:3, so the 16:9 frame gets bars above and below
constexpr i32 kWindowHeight = 600;

struct Frame {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> rgb; // bottom row first
    const u8* at(i32 x, i32 y) const { return &rgb[(static_cast<u64>(y) * width + static_cast<u64>(x)) * 3]; }
    // The mean colour of a square of pixels around (x, y).
    std::array<f32, 3> mean(i32 x, i32 y, i32 half = 2) const
    {
        std::array<f32, 3> sum { 0, 0, 0 };
        i32 n = 0;
        for (i32 j = y - half; j <= y + half; ++j)
            for (i32 i = x - half; i <= x + half; ++i, ++n)
                for (i32 c = 0; c < 3; ++c)
                    sum[c] += at(i, j)[c];
        for (f32& s : sum)
            s /= static_cast<f32>(n);
        return sum;
    }
};


class RenderEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X server";
        testing::useSmallDummyWindow();
        unsetenv("SDL_VIDEODRIVER");
        Settings::Graphics.backEnd = "opengl";
        Settings::Graphics.windowWidth = kWindowWidth;
        Settings::Graphics.windowHeight = kWindowHeight;
        Settings::Threading.enabled = false;
        Settings::Renderer.renderShadows = true;
        previousUserDirectory = quern::io::getHomeFileSystem().directory();
        quern::io::setUserDirectoryOverride(userDirectory.path().c_str());
        handlers = std::make_unique<testing::GameAssetHandlers>("opengl");
        testing::buildPlaygroundGame(content, "render-");
    }
    void TearDown() override
    {
        if (app)
            app->shutdown();
        app.reset();
        handlers.reset();
        if (!previousUserDirectory.empty())
            quern::io::setUserDirectoryOverride(previousUserDirectory.c_str());
        Settings::resetToDefaults();
    }

    void startLevel()
    {
        app = std::make_unique<App>(&content.database, content.depot.get(), AppServices {});
        app->init();
        for (i32 i = 0; i < 200 && app->currentLevelIndex() < 0; ++i)
            frame();
        ASSERT_GE(app->currentLevelIndex(), 0);
    }
    // One frame at the fixed step and the app events it posted.
    void frame()
    {
        m_time += 16'667;
        app->runFrame(m_time);
        AppEventQueue& queue = app->appEventQueue();
        for (i32 t = queue.frontStoredType(); t >= 0; t = queue.frontStoredType()) {
            if (appEventTypeOf(static_cast<u16>(t)) == AppEventType::ShowMenu)
                queue.drop();
            else if (!dispatchAppEvent(static_cast<u16>(t), queue, *app))
                break;
        }
    }
    // The window as the last frame left it (drawn, not yet presented).
    Frame readWindow()
    {
        quern::graphics::TextureRenderTarget* window = app->display()->context().windowRenderTarget;
        EXPECT_NE(window, nullptr);
        Frame frame;
        if (!window)
            return frame;
        quern::graphics::NullPixelBuffer image;
        window->readPixels(image);
        frame.width = image.format().width;
        frame.height = image.format().height;
        const u8* pixels = image.lockPixels();
        frame.rgb.assign(pixels, pixels + static_cast<u64>(frame.width) * frame.height * 3);
        image.unlockPixels();
        return frame;
    }
    void save(const Frame& frame, const char* name)
    {
        const fs::path path = fs::path(QUERN_TEST_BINARY_DIR) / name;
        EXPECT_TRUE(quern::opengl::testing::writePng(path.string(), frame.width, frame.height, frame.rgb)) << path;
    }

    quern::testing::TemporaryDirectory userDirectory;
    std::string previousUserDirectory;
    std::unique_ptr<testing::GameAssetHandlers> handlers;
    quern::testing::BuiltContent content;
    std::unique_ptr<App> app;
    i64 m_time = 0;
};

TEST_F(RenderEndToEndTest, APlaygroundFrameIsLetterboxedLitAndShaded)
{
    startLevel();
    for (i32 i = 0; i < 10; ++i)
        frame();
    const Frame lit = readWindow();
    save(lit, "playground.png");
    ASSERT_EQ(lit.width, static_cast<u32>(kWindowWidth));
    ASSERT_EQ(lit.height, static_cast<u32>(kWindowHeight));
}

} // namespace
} // namespace harmonize
