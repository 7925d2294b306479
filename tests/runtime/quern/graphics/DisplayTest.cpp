#include "quern/graphics/Display.h"

#include "DisplayTestSupport.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/Resource.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/parameter/Parameter.h"
#include "quern/platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <thread>
#include <vector>

namespace quern::test {
namespace {

using graphics::Display;
using graphics::DisplayConfiguration;
using graphics::DisplayMode;
using graphics::DisplayStatistic;
using graphics::PixelFormat;

using DisplayTest = DisplayFixture;

std::vector<u32> typesOf(const RecordingListener& listener)
{
    std::vector<u32> types;
    for (const DisplayEvent& event : listener.events)
        types.push_back(event.type);
    return types;
}

std::array<i32, 4> viewportOf(const Display& display)
{
    const i32* v = display.context().viewport;
    return { v[0], v[1], v[2], v[3] };
}

DisplayConfiguration configurationWithSwap(i32 swapInterval)
{
    DisplayConfiguration configuration;
    configuration.caption = "test";
    configuration.swapInterval = swapInterval;
    return configuration;
}

TEST_F(DisplayTest, GetWithoutDisplayWarnsAndInstallsOneNullDisplay)
{
    LogCatcher warnings(2);
    Display* first = Display::get();
    Display* second = Display::get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Display::current(), first);
    EXPECT_EQ(first->version(), graphics::GraphicsBackEndVersion::OpenGL);
    EXPECT_EQ(warnings.count("Display requested, but not initialized: using Null display!"), 1u);
}

TEST_F(DisplayTest, GetFromManyThreadsAtOnceMakesOneFallback)
{
    LogCatcher warnings(2);
    constexpr int kThreads = 8;
    std::atomic<int> ready { 0 };
    std::vector<Display*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) { }
            seen[i] = Display::get();
        });
    for (std::thread& thread : threads)
        thread.join();
    for (Display* display : seen)
        EXPECT_EQ(display, seen[0]);
    EXPECT_EQ(Display::current(), seen[0]);
    EXPECT_EQ(warnings.count("using Null display!"), 1u);
}

TEST_F(DisplayTest, TheFallbackDisplayIsDestroyedCleanlyAtExit)
{
    EXPECT_EXIT(
        {
            Display* display = Display::get();
            display->openWithVideoMode(makeMode(640, 480), DisplayConfiguration {});
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DisplayTest, SettingTheCurrentDisplayAgainKeepsIt)
{
    RecordingBackEnd device;
    bool destroyed = false;
    auto* display = new TestDisplay(device, &destroyed);
    RecordingListener listener;
    display->addListener(&listener);

    EXPECT_EQ(Display::set(display), display);
    EXPECT_EQ(Display::set(display), display);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(Display::current(), display);
    EXPECT_EQ(listener.detachCount, 0);
    EXPECT_TRUE(display->hasListener(&listener));
    display->removeListener(&listener);
}

TEST_F(DisplayTest, SettingAnotherDisplayDestroysThePreviousOne)
{
    RecordingBackEnd device;
    bool firstDestroyed = false;
    auto* first = new TestDisplay(device, &firstDestroyed);
    RecordingListener listener;
    first->addListener(&listener);
    Display::set(first);
    first->openWithVideoMode(makeMode(640, 480), configurationWithSwap(0));

    auto* second = new TestDisplay(device);
    EXPECT_EQ(Display::set(second), second);
    EXPECT_TRUE(firstDestroyed);
    EXPECT_EQ(Display::current(), second);
    // The old display closed (telling its listeners) and detached them.
    EXPECT_EQ(typesOf(listener), (std::vector<u32> { DisplayEvent::Opened, DisplayEvent::Closing }));
    EXPECT_EQ(listener.detachCount, 1);

    EXPECT_EQ(Display::set(nullptr), nullptr);
    EXPECT_EQ(Display::current(), nullptr);
}

TEST_F(DisplayTest, OpenLogsInitialisesTheDeviceAndTellsListeners)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    display.addListener(&listener);
    LogCatcher info(3);

    const DisplayMode mode = makeMode(1024, 768, 60);
    const DisplayConfiguration configuration = configurationWithSwap(1);
    EXPECT_EQ(display.openWithVideoMode(mode, configuration), 0);

    EXPECT_EQ(info.count("Requested video mode: 1024x768, 32bpp (B8G8R8A8), 60Hz"), 1u);
    EXPECT_TRUE(display.isOpen());
    EXPECT_EQ(display.openCalls, 1);
    EXPECT_EQ(device.count("init"), 1u);
    EXPECT_EQ(device.lastInit.maxStateObjects, 4096u);
    EXPECT_EQ(device.lastInit.mode, &mode);
    EXPECT_EQ(device.lastInit.configuration, &configuration);
    EXPECT_NE(device.lastInit.allocator, nullptr);
    EXPECT_EQ(display.context().caps, &device.caps);
    EXPECT_EQ(display.swapIntervals, std::vector<i32> { 1 });
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 1024, 768 }));
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].type, DisplayEvent::Opened);
    EXPECT_EQ(listener.events[0].a, 1024);
    EXPECT_EQ(listener.events[0].b, 768);
}

TEST_F(DisplayTest, ViewportAfterOpeningIsTheDrawableSizeTheWindowReports)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    display.reportedDrawableWidth = 2048;
    display.reportedDrawableHeight = 1536;
    display.addListener(&listener);

    display.openWithVideoMode(makeMode(1024, 768), configurationWithSwap(0));

    EXPECT_EQ(display.drawableWidth(), 2048);
    EXPECT_EQ(display.drawableHeight(), 1536);
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 2048, 1536 }));
    EXPECT_EQ(device.viewports().back(), (std::array<i32, 4> { 0, 0, 2048, 1536 }));
    // Listeners still hear the size that was asked for.
    EXPECT_EQ(listener.events[0].a, 1024);
}

TEST_F(DisplayTest, ViewportFallsBackToTheWindowSizeWhenNoDrawableIsReported)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    DisplayMode mode = makeMode(800, 600);
    mode.drawableWidth = 0;
    mode.drawableHeight = 0;
    display.openWithVideoMode(mode, configurationWithSwap(0));
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 800, 600 }));
}

TEST_F(DisplayTest, CloseTellsListenersClearsStateAndShutsTheDeviceDown)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    display.addListener(&listener);
    display.openWithVideoMode(makeMode(1024, 768), configurationWithSwap(0));
    LogCatcher info(3);

    display.close();

    EXPECT_EQ(info.count("Closing display"), 1u);
    ASSERT_EQ(listener.events.size(), 2u);
    EXPECT_EQ(listener.events[1].type, DisplayEvent::Closing);
    EXPECT_EQ(listener.events[1].a & 0xff, 1);
    EXPECT_FALSE(display.isOpen());
    EXPECT_EQ(device.viewports().back(), (std::array<i32, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ(display.currentMode(), DisplayMode {});
    EXPECT_EQ(display.context().caps, nullptr);
    EXPECT_EQ(device.count("shutdown"), 1u);

    // A closed display closes no more.
    display.close();
    EXPECT_EQ(device.count("shutdown"), 1u);
    EXPECT_EQ(listener.events.size(), 2u);
}

TEST_F(DisplayTest, CloseMakesTheDefaultShaderStateObjectsDirty)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    graphics::StateObjectCache* cache = display.context().stateObjectCache;
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->backEnd(), &device);
    display.openWithVideoMode(makeMode(640, 480), configurationWithSwap(0));
    EXPECT_EQ(device.lastInit.stateObjectCache, cache);
    cache->getStateObject(cache->defaultShader(), nullptr);
    ASSERT_EQ(cache->entryCount(), 1u);
    EXPECT_EQ(cache->entry(0).dirty, 0);

    display.close();
    EXPECT_EQ(cache->entry(0).dirty, 1);
}

TEST_F(DisplayTest, CloseLetsTheDefaultFontGo)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    display.openWithVideoMode(makeMode(640, 480), configurationWithSwap(0));
    graphics::Font* font = graphics::Font::getDefault();
    ASSERT_NE(font, nullptr);
    const Ref held(font);
    EXPECT_EQ(font->refCount(), 2);

    display.close();
    EXPECT_EQ(font->refCount(), 1);
}

// Records its own destruction.
class WindowTarget final : public graphics::TextureRenderTarget {
public:
    explicit WindowTarget(bool& destroyed)
        : m_destroyed(destroyed)
    {
    }
    ~WindowTarget() override { m_destroyed = true; }

private:
    bool& m_destroyed;
};

TEST_F(DisplayTest, TheWindowRenderTargetGoesWithCloseAndWithTheDisplay)
{
    RecordingBackEnd device;
    bool destroyed = false;
    {
        TestDisplay display(device);
        display.openWithVideoMode(makeMode(640, 480), configurationWithSwap(0));
        display.context().windowRenderTarget = new WindowTarget(destroyed);
        display.close();
        EXPECT_TRUE(destroyed);
        EXPECT_EQ(display.context().windowRenderTarget, nullptr);

        destroyed = false;
        display.context().windowRenderTarget = new WindowTarget(destroyed); // kept by a closed display
    }
    EXPECT_TRUE(destroyed);
}

TEST_F(DisplayTest, ResizeFollowsTheSizeRules)
{
    struct Case {
        const char* name;
        bool open;
        i32 width;
        i32 height;
        bool event;
        DisplayMode expectedMode;
        std::array<i32, 4> expectedViewport;
    };
    const DisplayMode start = makeMode(640, 480, 60);
    DisplayMode grown = start;
    grown.width = grown.drawableWidth = 800;
    grown.height = grown.drawableHeight = 600;
    const Case cases[] = {
        { "new size", true, 800, 600, true, grown, { 0, 0, 800, 600 } },
        { "same size", true, 640, 480, false, start, { 0, 0, 640, 480 } },
        { "zero width", true, 0, 480, false, DisplayMode {}, { 0, 0, 0, 480 } },
        { "zero height", true, 640, 0, false, DisplayMode {}, { 0, 0, 640, 0 } },
        { "closed", false, 800, 600, false, DisplayMode {}, { 0, 0, 0, 0 } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        RecordingBackEnd device;
        RecordingListener listener;
        TestDisplay display(device);
        if (test.open)
            display.openWithVideoMode(start, configurationWithSwap(0));
        display.addListener(&listener);
        const u64 deviceViewports = device.count("setViewport");

        display.resize(test.width, test.height);

        EXPECT_EQ(listener.events.size(), test.event ? 1u : 0u);
        if (test.event) {
            EXPECT_EQ(listener.events[0].type, DisplayEvent::Resized);
            EXPECT_EQ(listener.events[0].a, test.width);
            EXPECT_EQ(listener.events[0].b, test.height);
        }
        EXPECT_EQ(display.currentMode(), test.expectedMode);
        EXPECT_EQ(viewportOf(display), test.expectedViewport);
        EXPECT_EQ(device.count("setViewport"), deviceViewports); // resize leaves the device alone
    }
}

TEST_F(DisplayTest, SetActiveSendsAnEventOnEveryCall)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    display.addListener(&listener);

    display.setActive(false);
    EXPECT_EQ(display.context().active, 0);
    display.setActive(false);
    display.setActive(true);
    EXPECT_EQ(display.context().active, 1);
    EXPECT_EQ(typesOf(listener),
        (std::vector<u32> { DisplayEvent::Deactivated, DisplayEvent::Deactivated, DisplayEvent::Activated }));
}

TEST_F(DisplayTest, ListenersAreHeldOnceAndToldInOrder)
{
    RecordingBackEnd device;
    std::vector<std::string> order;
    RecordingListener a, b, c;
    TestDisplay display(device);
    a.name = "a";
    b.name = "b";
    c.name = "c";
    for (RecordingListener* listener : { &a, &b, &c })
        listener->log = &order;

    display.addListener(&a);
    display.addListener(&b);
    display.addListener(&a);
    display.addListener(&c);
    display.setActive(true);
    EXPECT_EQ(order, (std::vector<std::string> { "a", "b", "c" }));

    order.clear();
    display.removeListener(&b);
    EXPECT_EQ(b.detachCount, 1);
    EXPECT_FALSE(display.hasListener(&b));
    display.setActive(true);
    EXPECT_EQ(order, (std::vector<std::string> { "a", "c" }));
}

TEST_F(DisplayTest, RemovingAListenerThatIsNotThereStillDetachesIt)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    RecordingListener stranger;
    display.removeListener(&stranger);
    EXPECT_EQ(stranger.detachCount, 1);
}

TEST_F(DisplayTest, ANullListenerIsFatalToAddAndIgnoredOnRemoval)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    display.removeListener(nullptr);
    EXPECT_EQ(display.context().listeners.count(), 0u);
    EXPECT_DEATH(display.addListener(nullptr), "Display listener is null");
}

TEST_F(DisplayTest, DestroyingTheDisplayDetachesItsListeners)
{
    RecordingBackEnd device;
    RecordingListener a, b;
    {
        TestDisplay display(device);
        display.addListener(&a);
        display.addListener(&b);
    }
    EXPECT_EQ(a.detachCount, 1);
    EXPECT_EQ(b.detachCount, 1);
}

TEST_F(DisplayTest, DisplayModesAreAskedOnceAndSorted)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    display.supportedModes
        = { makeMode(1920, 1080, 60), makeMode(800, 600, 75), makeMode(800, 600, 60), makeMode(1280, 720, 60) };

    const containers::Array& modes = display.getDisplayModes();
    ASSERT_EQ(modes.count(), 4u);
    EXPECT_EQ(modes.at<DisplayMode>(0), makeMode(800, 600, 60));
    EXPECT_EQ(modes.at<DisplayMode>(1), makeMode(800, 600, 75));
    EXPECT_EQ(modes.at<DisplayMode>(2), makeMode(1280, 720, 60));
    EXPECT_EQ(modes.at<DisplayMode>(3), makeMode(1920, 1080, 60));

    display.getDisplayModes();
    EXPECT_EQ(display.enumerateCalls, 1);
}

TEST_F(DisplayTest, DesktopModeFallsBackToTheFirstSupportedModeThenToTheEmptyMode)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    EXPECT_EQ(display.getDesktopDisplayMode(), DisplayMode {});

    TestDisplay withModes(device);
    withModes.supportedModes = { makeMode(1280, 720, 60), makeMode(640, 480, 60) };
    EXPECT_EQ(withModes.getDesktopDisplayMode(), makeMode(640, 480, 60));

    withModes.hasDesktopMode = true;
    withModes.desktopMode = makeMode(2560, 1440, 144);
    EXPECT_EQ(withModes.getDesktopDisplayMode(), makeMode(2560, 1440, 144));
}

TEST_F(DisplayTest, BaseApplyVideoModeOpensAClosedDisplayWithTheDefaultConfiguration)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    EXPECT_STREQ(display.defaultConfiguration().caption, "Quern Engine");
    EXPECT_EQ(display.defaultConfiguration().depthBits, -1);
    EXPECT_EQ(display.defaultConfiguration().stencilBits, -1);

    EXPECT_TRUE(display.Display::applyVideoMode(makeMode(640, 480)));
    EXPECT_TRUE(display.isOpen());
    EXPECT_EQ(display.lastCaption, "Quern Engine");
    EXPECT_FALSE(display.Display::applyVideoMode(makeMode(800, 600)));
}

TEST_F(DisplayTest, CapabilitiesAreAskedOnceAndMarkedQueried)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    device.caps.maxTextureSize = 4096;
    EXPECT_EQ(display.getCapabilities(), &device.caps);
    EXPECT_EQ(display.getCapabilities(), &device.caps);
    EXPECT_EQ(device.count("getCapabilities"), 1u);
    EXPECT_EQ(device.caps.queried, 1);
}

// The capability lines are written once per process: check them in a process of their own.
TEST_F(DisplayTest, CapabilityLinesAreLoggedOnceAndVramOnlyWhenKnown)
{
    EXPECT_EXIT(
        {
            LogCatcher detail(4);
            RecordingBackEnd device;
            device.caps.textureUnits = 16;
            device.caps.maxTextureSize = 8192;
            device.caps.vramMegabytes = 512;
            TestDisplay first(device);
            first.getCapabilities();
            RecordingBackEnd other;
            TestDisplay second(other);
            second.getCapabilities();
            const bool ok = detail.count("Texture units: 16") == 1 && detail.count("Max texture size: 8192") == 1
                && detail.count("VRAM: 512 MB") == 1 && detail.count("Texture units:") == 1;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            LogCatcher detail(4);
            graphics::NullDisplay display;
            display.getCapabilities();
            const bool ok = detail.count("Texture units: 0") == 1 && detail.count("Max texture size: 2048") == 1
                && detail.count("VRAM") == 0;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The frame clock is process-wide: the first present of the process measures no interval.
TEST_F(DisplayTest, PresentPublishesFramesPerSecond)
{
    EXPECT_EXIT(
        {
            platform::ManualCounterSource clock(1'000'000);
            platform::ScopedCounterSource scoped(clock);
            RecordingBackEnd device;
            TestDisplay display(device);
            Parameter* fps = display.context().statistic(DisplayStatistic::FramesPerSecond);
            display.present(); // closed: nothing
            bool ok = device.count("present") == 0;
            display.openWithVideoMode(makeMode(640, 480), configurationWithSwap(0));
            fps->setValue(-1.0f);
            display.present();
            ok = ok && fps->value() == 0.0f && device.count("present") == 1;
            clock.advance(platform::kPerformanceFrequency / 50);
            display.present();
            ok = ok && fps->value() > 49.99f && fps->value() < 50.01f;
            display.present(); // no time passed
            ok = ok && fps->value() == 0.0f;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DisplayTest, StatisticsAreNamedParametersOfTheDisplayGroup)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    const struct {
        DisplayStatistic which;
        u64 name;
        const char* text;
    } cases[] = {
        { DisplayStatistic::FramesPerSecond, 0x0feaa6b5864ad2ddull, "Frames/second" },
        { DisplayStatistic::TextureMemoryUsed, 0x31c27860e805704dull, "Texture memory used" },
        { DisplayStatistic::VertexMemoryUsed, 0x37b2e7609dc5b11eull, "Vertex memory used" },
        { DisplayStatistic::RenderTargetMemoryUsed, 0x2dcd5dcc4339d202ull, "Render target memory used" },
        { DisplayStatistic::FreeVram, 0x37861e1f1d9ae880ull, "Free VRAM" },
    };
    for (const auto& test : cases) {
        Parameter* parameter = display.context().statistic(test.which);
        ASSERT_NE(parameter, nullptr);
        EXPECT_EQ(parameter->group(), 0x0a8316eb69efc616ull);
        EXPECT_EQ(parameter->name(), test.name);
        EXPECT_STREQ(parameter->displayName(), test.text);
    }
}

// A cached resource that records when its device data goes and comes back.
class DeviceResource final : public assets::Resource {
public:
    DeviceResource(std::vector<std::string>& log, std::string name)
        : m_log(log)
        , m_name(std::move(name))
    {
        setState(Loaded);
    }
    void* getData() override { return nullptr; }
    u64 getMemorySize() override { return 0; }
    void releaseDeviceData() override { m_log.push_back("release " + m_name); }
    void restoreDeviceData() override { m_log.push_back("restore " + m_name); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

void cacheDeviceResource(
    assets::ResourceCache& cache, u64 key, u64 type, std::vector<std::string>& log, const char* name)
{
    const u32 handle = cache.allocateAndInsert(key, type, sizeof(DeviceResource), alignof(DeviceResource));
    ASSERT_NE(handle, 0u);
    u64 typeId = 0;
    RefCounted::retain(new (cache.entry(handle, typeId)) DeviceResource(log, name));
}

// Logs the display events next to the resource events.
class OrderListener final : public graphics::DisplayListener {
public:
    explicit OrderListener(std::vector<std::string>& log)
        : m_log(log)
    {
    }
    void onDisplayEvent(const DisplayEvent& event) override { m_log.push_back("event " + std::to_string(event.type)); }

private:
    std::vector<std::string>& m_log;
};

TEST_F(DisplayTest, ChangeVideoModeOnAClosedDisplayOpensIt)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    assets::DefaultResourceCache cache;
    EXPECT_TRUE(display.changeVideoMode(makeMode(800, 600), configurationWithSwap(0), cache));
    EXPECT_TRUE(display.isOpen());
    EXPECT_EQ(display.applyCalls, 0);
}

TEST_F(DisplayTest, ChangeVideoModeToTheSameModeDoesNothing)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    assets::DefaultResourceCache cache;
    display.openWithVideoMode(makeMode(800, 600, 60), configurationWithSwap(0));
    display.addListener(&listener);
    const u64 calls = device.calls.size();

    EXPECT_FALSE(display.changeVideoMode(makeMode(800, 600, 60), configurationWithSwap(0), cache));
    EXPECT_EQ(device.calls.size(), calls);
    EXPECT_EQ(display.applyCalls, 0);
    EXPECT_TRUE(listener.events.empty());
}

TEST_F(DisplayTest, ChangeVideoModeInPlaceResizesAndClears)
{
    RecordingBackEnd device;
    RecordingListener listener;
    TestDisplay display(device);
    display.inPlace = true;
    assets::DefaultResourceCache cache;
    std::vector<std::string> log;
    cacheDeviceResource(cache, 1, assets::ResourceType::Texture, log, "texture");
    display.openWithVideoMode(makeMode(800, 600, 60), configurationWithSwap(0));
    display.addListener(&listener);
    LogCatcher info(3);

    const DisplayMode wanted = makeMode(1280, 720, 60);
    EXPECT_TRUE(display.changeVideoMode(wanted, configurationWithSwap(0), cache));

    EXPECT_EQ(info.count("Changed video mode: 1280x720, 32bpp (B8G8R8A8), 60Hz"), 1u);
    EXPECT_EQ(typesOf(listener), std::vector<u32> { DisplayEvent::Resized });
    EXPECT_EQ(display.currentMode(), wanted);
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 1280, 720 }));
    EXPECT_EQ(device.viewports().back(), (std::array<i32, 4> { 0, 0, 1280, 720 }));
    ASSERT_EQ(device.count("clear"), 1u);
    for (const DeviceCall& call : device.calls) {
        if (call.name == "clear") {
            EXPECT_EQ(call.flags, 0x7fffffffu);
        }
    }
    EXPECT_EQ(device.count("shutdown"), 0u);
    EXPECT_TRUE(log.empty()); // no device data had to go
}

TEST_F(DisplayTest, ChangeVideoModeThatNeedsAReopenSuspendsAndResumesResources)
{
    RecordingBackEnd device;
    std::vector<std::string> log;
    OrderListener listener(log);
    TestDisplay display(device);
    assets::DefaultResourceCache cache;
    cacheDeviceResource(cache, 1, assets::ResourceType::Texture, log, "texture");
    cacheDeviceResource(cache, 2, assets::ResourceType::ShaderProgram, log, "program");
    cacheDeviceResource(cache, 3, assets::ResourceType::Material, log, "material");
    display.openWithVideoMode(makeMode(800, 600, 60), configurationWithSwap(0));
    display.addListener(&listener);

    EXPECT_TRUE(display.changeVideoMode(makeMode(1024, 768, 60), configurationWithSwap(0), cache));

    EXPECT_EQ(log,
        (std::vector<std::string> {
            "release program", "release texture", "event 1", "event 0", "restore program", "restore texture" }));
    EXPECT_EQ(display.openCalls, 2);
    EXPECT_EQ(device.count("shutdown"), 1u);
    EXPECT_EQ(device.count("init"), 2u);
    EXPECT_EQ(display.currentMode().width, 1024);
    EXPECT_EQ(viewportOf(display), (std::array<i32, 4> { 0, 0, 1024, 768 }));
    EXPECT_EQ(static_cast<assets::Resource*>(static_cast<RefCounted*>(cache.find(1)->resource))->state(),
        assets::Resource::Loaded);
}

TEST_F(DisplayTest, ChangeVideoModeReachesEveryResourceBeyondOneBatch)
{
    RecordingBackEnd device;
    TestDisplay display(device);
    assets::DefaultResourceCache cache;
    std::vector<std::string> log;
    constexpr u64 kCount = 600;
    for (u64 key = 1; key <= kCount; ++key)
        cacheDeviceResource(cache, key, assets::ResourceType::Texture, log, "t");
    display.openWithVideoMode(makeMode(800, 600), configurationWithSwap(0));

    display.changeVideoMode(makeMode(1024, 768), configurationWithSwap(0), cache);

    u64 releases = 0;
    u64 restores = 0;
    for (const std::string& line : log) {
        releases += line == "release t";
        restores += line == "restore t";
    }
    EXPECT_EQ(releases, kCount);
    EXPECT_EQ(restores, kCount);
}

} // namespace
} // namespace quern::test
