#include "quern/graphics/TextureRenderTarget.h"

#include "DeviceTestSupport.h"
#include "quern/graphics/NullPixelBuffer.h"

#include <gtest/gtest.h>

namespace quern::graphics {
namespace {

using namespace testing;

PixelFormat depth24()
{
    return PixelFormat::fromOneChannel(Channel{ChannelContent::D, ChannelType::Unsigned, 24, 0, 0}, 0);
}

// A texture around a fresh in-memory image of that size.
Ref textureOfSize(u32 width, u32 height, const PixelFormat& format = PixelFormat::B8G8R8)
{
    auto* image = new NullPixelBuffer;
    image->create(PixelBufferFormat::create2D(width, height, format), 0);
    return Ref(new Texture(image));
}

class TextureRenderTargetTest : public ::testing::Test {
protected:
    Display& display() { return m_display.display(); }

    FakeBackEnd m_device;
    GlobalDisplay m_display{new FakeDisplay(m_device)};
};

struct AdjustCase {
    u32 width, height, maximum;
    u32 expectedWidth, expectedHeight;
    bool logged;
};

TEST(TextureRenderTargetSize, AdjustedToPowersOfTwoWithinTheLargestRenderBuffer)
{
    const AdjustCase cases[] = {
        {800, 600, 4096, 1024, 1024, true}, {1024, 512, 4096, 1024, 512, false}, {2, 1, 4096, 2, 2, true},
        {0, 0, 4096, 2, 2, true},           {3, 5, 4096, 4, 8, true},            {5000, 300, 4096, 4096, 512, true},
        {1500, 1500, 1024, 1024, 1024, true},
    };
    for (const AdjustCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " max " << c.maximum);
        LogCapture information(3);
        DisplayCaps caps;
        caps.maxRenderbufferSize = c.maximum;
        u32 width = c.width, height = c.height;
        TextureRenderTarget::adjustSize(caps, width, height);
        EXPECT_EQ(width, c.expectedWidth);
        EXPECT_EQ(height, c.expectedHeight);
        EXPECT_EQ(information.contains("Creating render target with adjusted size: "), c.logged);
    }
    LogCapture information(3);
    DisplayCaps caps;
    caps.maxRenderbufferSize = 4096;
    u32 width = 800, height = 600;
    TextureRenderTarget::adjustSize(caps, width, height);
    EXPECT_TRUE(information.contains("Creating render target with adjusted size: 1024x1024 (requested: 800x600)"));
}

TEST_F(TextureRenderTargetTest, FirstTextureFixesTheSizeAndLastRemovedEmptiesIt)
{
    TextureRenderTarget target;
    const Ref first = textureOfSize(64, 32);
    const Ref second = textureOfSize(16, 16);
    target.addTexture(first.get<Texture>());
    target.addTexture(second.get<Texture>());
    EXPECT_EQ(target.width(), 64u);
    EXPECT_EQ(target.height(), 32u);
    EXPECT_EQ(std::vector<i32>(target.viewport(), target.viewport() + 4), (std::vector<i32>{0, 0, 64, 32}));
    EXPECT_EQ(first.get<Texture>()->refCount(), 2);

    target.removeTexture(first.get<Texture>());
    EXPECT_EQ(target.width(), 64u);
    EXPECT_EQ(first.get<Texture>()->refCount(), 1);
    target.removeTexture(second.get<Texture>());
    EXPECT_EQ(target.textureCount(), 0u);
    EXPECT_EQ(target.width(), 0u);
    EXPECT_EQ(target.height(), 0u);
    EXPECT_EQ(std::vector<i32>(target.viewport(), target.viewport() + 4), (std::vector<i32>{0, 0, 0, 0}));
}

TEST_F(TextureRenderTargetTest, RemovingATextureAddedTwiceRemovesBoth)
{
    TextureRenderTarget target;
    const Ref texture = textureOfSize(8, 8);
    target.addTexture(texture.get<Texture>());
    target.addTexture(texture.get<Texture>());
    EXPECT_EQ(target.textureCount(), 2u);
    target.removeTexture(texture.get<Texture>());
    EXPECT_EQ(target.textureCount(), 0u);
    EXPECT_EQ(texture.get<Texture>()->refCount(), 1);
}

TEST_F(TextureRenderTargetTest, RenderTargetTextureStartsAsALoadedRenderTargetImage)
{
    RenderTargetTexture texture;
    EXPECT_EQ(m_device.pixelBufferUsages,
              (std::vector<u32>{GraphicsBackEnd::TextureImage, GraphicsBackEnd::RenderTargetImage}));
    EXPECT_EQ(texture.pixelBuffer(), m_device.images.back());
    EXPECT_EQ(texture.pixelBuffer()->format(), PixelBufferFormat::create2D(512, 512, PixelFormat::B8G8R8));
    EXPECT_EQ(texture.pixelBuffer()->createFlags(), 18u);
    EXPECT_EQ(texture.formatClass(), static_cast<u32>(Texture::ColourB8G8R8));
    EXPECT_EQ(texture.state(), assets::Resource::Loaded);
    EXPECT_EQ(texture.tag(), 4u);

    const Ref copy(texture.clone());
    const RenderTargetTexture* clone = copy.get<RenderTargetTexture>();
    EXPECT_EQ(clone->pixelBuffer(), texture.pixelBuffer());
    EXPECT_EQ(clone->formatClass(), texture.formatClass());
    EXPECT_EQ(clone->tag(), 4u);
    EXPECT_EQ(clone->display(), texture.display());
}

TEST_F(TextureRenderTargetTest, ColourAndDepthFormatsGiveTwoTexturesAndTheDepthOneIsFound)
{
    const PixelBufferFormat formats[] = {
        PixelBufferFormat::create2D(320, 200, PixelFormat::A8B8G8R8),
        PixelBufferFormat::create2D(320, 200, depth24()),
    };
    const Ref held(TextureRenderTarget::createTextureRenderTarget({formats, 2}, display()));
    const TextureRenderTarget& target = *held.get<TextureRenderTarget>();

    ASSERT_EQ(target.textureCount(), 2u);
    EXPECT_EQ(target.findDepthTexture(), target.texture(1));
    EXPECT_EQ(target.width(), 320u);
    EXPECT_EQ(target.height(), 200u);
    EXPECT_EQ(std::vector<i32>(target.viewport(), target.viewport() + 4), (std::vector<i32>{0, 0, 320, 200}));
    for (u64 i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Texture& texture = *target.texture(i);
        EXPECT_EQ(texture.state(), assets::Resource::Loaded);
        EXPECT_EQ(texture.pixelBuffer()->format(), formats[i]);
        EXPECT_EQ(texture.pixelBuffer()->createFlags(), 18u);
        EXPECT_EQ(texture.refCount(), 1);
    }
    EXPECT_EQ(target.texture(0)->formatClass(), static_cast<u32>(Texture::ColourA8B8G8R8));
    EXPECT_EQ(target.texture(1)->formatClass(), static_cast<u32>(Texture::OtherFormat));
    // The factory's own reference is gone: the caller's handle is the only one.
    EXPECT_EQ(target.refCount(), 1);
}

TEST_F(TextureRenderTargetTest, DeviceWithoutNonPowerOfTwoTargetsGetsAdjustedSizes)
{
    m_device.caps.nonPowerOfTwoTargets = 0;
    LogCapture information(3);
    const PixelBufferFormat formats[] = {
        PixelBufferFormat::create2D(800, 600, PixelFormat::B8G8R8),
        PixelBufferFormat::create2D(800, 600, depth24()),
    };
    const Ref held(TextureRenderTarget::createTextureRenderTarget({formats, 2}, display()));
    const TextureRenderTarget& target = *held.get<TextureRenderTarget>();

    EXPECT_TRUE(information.contains("Creating render target with adjusted size: 1024x1024 (requested: 800x600)"));
    for (u64 i = 0; i < 2; ++i) {
        const PixelBufferFormat& made = target.texture(i)->pixelBuffer()->format();
        EXPECT_EQ(made.width, 1024u);
        EXPECT_EQ(made.height, 1024u);
        // Sizes follow the adjusted dimensions, not the requested ones.
        EXPECT_EQ(made.dataSize, 1024u * 1024u * 3u);
    }
}

TEST_F(TextureRenderTargetTest, RefusedImageIsRetriedAtItsPowerOfTwoSize)
{
    m_device.targetAccepts = [](const FakeRenderTarget& target) {
        const PixelBufferFormat& last = target.texture(target.textureCount() - 1)->pixelBuffer()->format();
        return last.isPowerOfTwo();
    };
    const PixelBufferFormat formats[] = {
        PixelBufferFormat::create2D(300, 100, PixelFormat::B8G8R8),
        PixelBufferFormat::create2D(300, 100, depth24()),
    };
    const Ref held(TextureRenderTarget::createTextureRenderTarget({formats, 2}, display()));
    const auto& target = *held.get<FakeRenderTarget>();

    ASSERT_EQ(target.textureCount(), 2u);
    for (u64 i = 0; i < 2; ++i) {
        const PixelBufferFormat& made = target.texture(i)->pixelBuffer()->format();
        EXPECT_EQ(made.width, 512u);
        EXPECT_EQ(made.height, 128u);
    }
    // The second image is made at the retried size at once.
    EXPECT_EQ(target.completenessChecks, 3u);
    EXPECT_EQ(target.width(), 512u);
}

// The null device takes targets of any size up to its largest texture.
TEST(TextureRenderTargetOnNullDevice, KeepsTheRequestedSize)
{
    GlobalDisplay global(new NullDisplay);
    LogCapture information(3);
    const PixelBufferFormat formats[] = {PixelBufferFormat::create2D(800, 600, PixelFormat::B8G8R8)};
    const Ref held(TextureRenderTarget::createTextureRenderTarget({formats, 1}, global.display()));
    const TextureRenderTarget& target = *held.get<TextureRenderTarget>();
    EXPECT_EQ(target.width(), 800u);
    EXPECT_EQ(target.height(), 600u);
    EXPECT_EQ(target.texture(0)->pixelBuffer()->format(), formats[0]);
    EXPECT_FALSE(information.contains("adjusted size"));
}

using TextureRenderTargetDeathTest = TextureRenderTargetTest;

TEST_F(TextureRenderTargetDeathTest, TargetsTheDeviceCannotMakeAreFatal)
{
    const PixelBufferFormat formats[] = {PixelBufferFormat::create2D(64, 64, PixelFormat::B8G8R8)};

    m_device.makeTargets = false;
    EXPECT_DEATH(TextureRenderTarget::createTextureRenderTarget({formats, 1}, display()),
                 "Texture render target unsupported: 64x64, 24bpp \\(B8G8R8\\)");

    m_device.makeTargets = true;
    m_device.targetsUsable = false;
    EXPECT_DEATH(TextureRenderTarget::createTextureRenderTarget({formats, 1}, display()),
                 "Texture render target unsupported: ");

    m_device.targetsUsable = true;
    EXPECT_DEATH(TextureRenderTarget::createTextureRenderTarget({formats, 0}, display()),
                 "Texture render target unsupported: no images");
}

TEST_F(TextureRenderTargetDeathTest, ImagesTheDeviceRefusesAtEverySizeAreFatal)
{
    m_device.targetAccepts = [](const FakeRenderTarget&) { return false; };
    // Already a power of two: there is no other size to try.
    const PixelBufferFormat square[] = {PixelBufferFormat::create2D(64, 64, PixelFormat::B8G8R8)};
    EXPECT_DEATH(TextureRenderTarget::createTextureRenderTarget({square, 1}, display()),
                 "Texture render target unsupported: 64x64");
    // Refused again at the adjusted size.
    const PixelBufferFormat odd[] = {PixelBufferFormat::create2D(100, 60, PixelFormat::B8G8R8)};
    EXPECT_DEATH(TextureRenderTarget::createTextureRenderTarget({odd, 1}, display()),
                 "Texture render target unsupported: 100x60");
}

} // namespace
} // namespace quern::graphics
