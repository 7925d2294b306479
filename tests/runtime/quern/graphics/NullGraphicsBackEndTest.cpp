#include "quern/graphics/NullGraphicsBackEnd.h"

#include "DisplayTestSupport.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/platform/Clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace quern::test {
namespace {

using graphics::DisplayConfiguration;
using graphics::GraphicsBackEndVersion;
using graphics::NullDisplay;
using graphics::NullGraphicsBackEnd;
using graphics::ShaderLanguage;

// The pacing clock: waiting moves the manual counter on by what was asked,
// a yield by a small step, and every request is recorded.
platform::ManualCounterSource* g_clock = nullptr;
std::vector<u64>* g_waits = nullptr;
constexpr u64 kYieldStep = 1'000;

void advanceClock(u64 ticks)
{
    g_waits->push_back(ticks);
    g_clock->advance(ticks ? ticks : kYieldStep);
}

class NullPacing : public ::testing::Test {
protected:
    static constexpr u64 kStart = 5'000'000;
    static constexpr i64 kPeriod = static_cast<i64>(platform::kPerformanceFrequency / 60);

    NullPacing()
        : m_scoped(m_clock)
    {
        g_clock = &m_clock;
        g_waits = &waits;
        device.setWaitFunction(advanceClock);
    }
    ~NullPacing() override
    {
        g_clock = nullptr;
        g_waits = nullptr;
    }

    void initWithSwapInterval(i32 interval)
    {
        DisplayConfiguration configuration;
        configuration.swapInterval = interval;
        BackEndInitParams params;
        params.configuration = &configuration;
        device.init(params);
    }
    i64 now() { return static_cast<i64>(m_clock.read()); }
    i64 start() const { return static_cast<i64>(kStart); }

    platform::ManualCounterSource m_clock { kStart };
    platform::ScopedCounterSource m_scoped;
    std::vector<u64> waits;
    NullGraphicsBackEnd device;
};

TEST_F(NullPacing, InitSetsASixtyHertzPeriodFromNow)
{
    initWithSwapInterval(1);
    EXPECT_EQ(device.swapInterval(), 1u);
    EXPECT_EQ(device.period(), kPeriod);
    EXPECT_EQ(device.nextDeadline(), start() + kPeriod);
}

TEST_F(NullPacing, WithoutSwapIntervalPresentReturnsAtOnce)
{
    initWithSwapInterval(0);
    for (int frame = 0; frame < 3; ++frame)
        device.present();
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(now(), start());
}

TEST_F(NullPacing, PresentSleepsMostOfTheWaitAndNeverReturnsBeforeTheDeadline)
{
    initWithSwapInterval(1);
    device.present();

    EXPECT_GE(now(), start() + kPeriod);
    EXPECT_LT(now(), start() + kPeriod + static_cast<i64>(kYieldStep));
    ASSERT_FALSE(waits.empty());
    // One sleep up to the wake margin, then only the margin is spun away.
    EXPECT_EQ(waits[0], static_cast<u64>(kPeriod - NullGraphicsBackEnd::kWakeMargin));
    EXPECT_LE(waits.size(), static_cast<u64>(NullGraphicsBackEnd::kWakeMargin) / kYieldStep + 1);
}

TEST_F(NullPacing, FramesKeepASixtyHertzCadence)
{
    initWithSwapInterval(1);
    for (i64 frame = 1; frame <= 5; ++frame) {
        m_clock.advance(1); // the frame's own work, however short
        device.present();
        EXPECT_GE(now(), start() + frame * kPeriod) << frame;
        EXPECT_LT(now(), start() + frame * kPeriod + static_cast<i64>(kYieldStep)) << frame;
    }
}

TEST_F(NullPacing, ALateFrameWaitsForTheNextSlotOfTheGrid)
{
    initWithSwapInterval(1);
    device.present(); // slot 1
    m_clock.advance(static_cast<u64>(kPeriod * 5 / 2)); // work took 2.5 frames
    device.present();
    EXPECT_GE(now(), start() + 4 * kPeriod);
    EXPECT_LT(now(), start() + 4 * kPeriod + static_cast<i64>(kYieldStep));
}

TEST_F(NullPacing, AFrameLandingExactlyOnItsDeadlineDoesNotWait)
{
    initWithSwapInterval(1);
    m_clock.advance(static_cast<u64>(kPeriod));
    device.present();
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(now(), start() + kPeriod);
    EXPECT_EQ(device.nextDeadline(), start() + kPeriod);
}

TEST_F(NullPacing, AFrameLateByWholePeriodsTakesTheSlotItLandsOn)
{
    initWithSwapInterval(1);
    m_clock.advance(static_cast<u64>(3 * kPeriod)); // two slots missed, lands on the third
    device.present();
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(device.nextDeadline(), start() + 3 * kPeriod);
}

TEST_F(NullPacing, NullDisplayHandsItsSwapIntervalToTheDevice)
{
    NullDisplay display(&device);
    EXPECT_EQ(device.display(), &display);
    DisplayConfiguration configuration;
    configuration.swapInterval = 1;
    display.openWithVideoMode(makeMode(640, 480), configuration);
    EXPECT_EQ(device.swapInterval(), 1u);
    display.present();
    EXPECT_GE(now(), start() + kPeriod);
}

TEST(NullGraphicsBackEnd, CapabilitiesAreFixedAndLetTargetsKeepTheirSize)
{
    NullGraphicsBackEnd device;
    const DisplayCaps* caps = device.getCapabilities();
    EXPECT_EQ(caps->textureUnits, 0u);
    EXPECT_EQ(caps->maxTextureSize, 2048u);
    EXPECT_EQ(caps->maxRenderbufferSize, 2048u);
    EXPECT_EQ(caps->nonPowerOfTwoTargets, 1);
    EXPECT_EQ(caps->maxSamples, 1u);
    EXPECT_EQ(caps->limit, 256u);
    EXPECT_EQ(caps->vramMegabytes, 0u);
    EXPECT_EQ(caps->EXT_framebuffer_object, 0);
    EXPECT_EQ(caps->ARB_framebuffer_object, 0);
}

TEST(NullGraphicsBackEnd, StateObjectsAndQueriesAreEmpty)
{
    NullGraphicsBackEnd device;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(device.allocateStateObject(), 0u);
    std::unique_ptr<graphics::OcclusionQuery> query(device.createQuery());
    ASSERT_NE(query, nullptr);
    query->begin();
    query->end();
    u32 samples = 77;
    EXPECT_FALSE(query->getResult(samples));
    EXPECT_EQ(samples, 0u);
}

TEST(NullGraphicsBackEnd, PixelBuffersAreInMemoryRenderTargetImagesWhateverTheUsage)
{
    NullGraphicsBackEnd device;
    for (u32 usage : { 1u, 2u, 6u }) {
        graphics::PixelBuffer* image = device.createPixelBuffer(usage);
        ASSERT_NE(image, nullptr);
        const Ref holder(image);
        EXPECT_EQ(image->kind(), graphics::DisplayBufferKind::Pixel);
        EXPECT_EQ(image->usage(), 2u) << usage;
    }
}

TEST(NullGraphicsBackEnd, VertexAndIndexBuffersLiveInMemoryWithTheirUsage)
{
    NullGraphicsBackEnd device;
    graphics::VertexBuffer* vertices = device.createVertexBuffer(6);
    graphics::IndexBuffer* indices = device.createIndexBuffer(5);
    ASSERT_NE(vertices, nullptr);
    ASSERT_NE(indices, nullptr);
    const Ref vertexHolder(static_cast<RefCounted*>(vertices));
    const Ref indexHolder(static_cast<RefCounted*>(indices));
    EXPECT_EQ(vertices->kind(), graphics::DisplayBufferKind::Vertex);
    EXPECT_EQ(vertices->usage(), 6u);
    EXPECT_EQ(indices->kind(), graphics::DisplayBufferKind::Index);
    EXPECT_EQ(indices->usage(), 5u);

    // Discarding gives the device object up as releasing does.
    vertices->createDeviceObject();
    vertices->discard();
    EXPECT_FALSE(vertices->hasDeviceObject());

    vertices->setSize(8);
    vertices->data()[0] = 42;
    graphics::VertexBuffer* copy = vertices->clone();
    const Ref copyHolder(static_cast<RefCounted*>(copy));
    EXPECT_NE(copy->data(), vertices->data());
    EXPECT_EQ(copy->data()[0], 42);
}

TEST(NullGraphicsBackEnd, RenderTargetsArePlainUsableTargets)
{
    NullGraphicsBackEnd device;
    for (graphics::TextureRenderTarget* target : { device.createRenderTarget(), device.createWindowRenderTarget() }) {
        ASSERT_NE(target, nullptr);
        const Ref holder(target);
        EXPECT_TRUE(target->isUsable());
        EXPECT_TRUE(target->isComplete());
        EXPECT_EQ(target->textureCount(), 0u);
    }
}

TEST(GraphicsBackEndVersion, SelectsTheShadingLanguage)
{
    const struct {
        GraphicsBackEndVersion version;
        ShaderLanguage language;
        bool openGL;
    } cases[] = {
        { GraphicsBackEndVersion::Null, ShaderLanguage::GLSL, false },
        { GraphicsBackEndVersion::OpenGL, ShaderLanguage::GLSL, true },
        { GraphicsBackEndVersion::OpenGL2, ShaderLanguage::GLSL, true },
        { GraphicsBackEndVersion::OpenGL3, ShaderLanguage::GLSL, true },
        { GraphicsBackEndVersion::OpenGLFamily, ShaderLanguage::GLSL, false },
        { GraphicsBackEndVersion::HLSL, ShaderLanguage::HLSL, false },
        { GraphicsBackEndVersion::PSSL, ShaderLanguage::PSSL, false },
        { GraphicsBackEndVersion::GXP, ShaderLanguage::GXP, false },
    };
    for (const auto& test : cases) {
        EXPECT_EQ(graphics::shadingLanguageForVersion(test.version), test.language) << static_cast<u32>(test.version);
        EXPECT_EQ(graphics::isOpenGLVersion(test.version), test.openGL) << static_cast<u32>(test.version);
    }
}

TEST(GraphicsBackEndVersionDeathTest, UnknownVersionIsFatal)
{
    EXPECT_DEATH(graphics::shadingLanguageForVersion(static_cast<GraphicsBackEndVersion>(2)),
        "Invalid enum value for type GraphicsBackEndVersion");
}

using NullDisplayTest = DisplayFixture;

TEST_F(NullDisplayTest, OffersOneModeAndNoWindow)
{
    NullGraphicsBackEnd device;
    NullDisplay display(&device);
    EXPECT_EQ(display.version(), GraphicsBackEndVersion::OpenGL);
    EXPECT_EQ(display.getWindow(), nullptr);
    EXPECT_EQ(display.createInputBackEnd(), nullptr);

    const containers::Array& modes = display.getDisplayModes();
    ASSERT_EQ(modes.count(), 1u);
    const graphics::DisplayMode& mode = modes.at<graphics::DisplayMode>(0);
    EXPECT_EQ(mode, makeMode(1024, 768));
    EXPECT_EQ(display.getDesktopDisplayMode(), mode);
    EXPECT_EQ(display.clearColour()[3], 1.0f);
}

// Counts its own destruction.
class Held final : public RefCounted {
public:
    explicit Held(bool& destroyed)
        : m_destroyed(destroyed)
    {
    }
    ~Held() override { m_destroyed = true; }

private:
    bool& m_destroyed;
};

TEST_F(NullDisplayTest, ClosingReleasesTheRetainedReferences)
{
    NullGraphicsBackEnd device;
    NullDisplay display(&device);
    display.openWithVideoMode(makeMode(1024, 768), DisplayConfiguration {});
    bool destroyed = false;
    display.retainedSlot(3) = Ref(new Held(destroyed));
    EXPECT_FALSE(destroyed);
    display.close();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(display.retainedSlot(3));
}

TEST_F(NullDisplayTest, DestructionReleasesTheRetainedReferencesAndForgetsTheDevice)
{
    NullGraphicsBackEnd device;
    bool destroyed = false;
    {
        NullDisplay display(&device);
        display.retainedSlot(7) = Ref(new Held(destroyed));
    }
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(device.display(), nullptr);
}

TEST_F(NullDisplayTest, SlotOutsideTheEightIsFatal)
{
    NullGraphicsBackEnd device;
    NullDisplay display(&device);
    EXPECT_DEATH(display.retainedSlot(8), "NullDisplay slot index out of range");
}

} // namespace
} // namespace quern::test
