#include "quern/graphics/Texture.h"

#include "DeviceTestSupport.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::graphics {
namespace {

using namespace testing;
using assets::Resource;

class TextureTest : public ::testing::Test {
protected:
    static Ref filledImage(u32 width, u32 height)
    {
        auto* image = new NullPixelBuffer;
        const Bytes pixels(u64{width} * height * 4, 0x3c);
        image->setData(pixels.data(), PixelBufferFormat::create2D(width, height, PixelFormat::A8B8G8R8), nullptr, 0);
        return Ref(image);
    }

    FakeBackEnd m_device;
    GlobalDisplay m_display{new FakeDisplay(m_device)};
};

TEST_F(TextureTest, DefaultTextureTakesItsImageFromTheDisplaysDevice)
{
    Texture texture;
    ASSERT_EQ(m_device.images.size(), 1u);
    EXPECT_EQ(m_device.pixelBufferUsages, std::vector<u32>{GraphicsBackEnd::TextureImage});
    EXPECT_EQ(texture.pixelBuffer(), m_device.images[0]);
    EXPECT_EQ(texture.getData(), m_device.images[0]);
    EXPECT_EQ(texture.display(), &m_display.display());
    EXPECT_EQ(texture.state(), Resource::New);
    EXPECT_EQ(texture.formatClass(), static_cast<u32>(Texture::OtherFormat));
    EXPECT_EQ(texture.extension().valid, 0);
}

TEST_F(TextureTest, TextureAroundAnImageIsLoadedOnlyWhenTheImageHasData)
{
    NullPixelBuffer* empty = new NullPixelBuffer;
    Texture aroundEmpty(empty);
    EXPECT_EQ(aroundEmpty.state(), Resource::New);
    EXPECT_EQ(aroundEmpty.pixelBuffer(), empty);

    const Ref image = filledImage(4, 2);
    const u32 before = Resource::nextChangeStamp();
    Texture aroundFilled(image.get<PixelBuffer>());
    EXPECT_EQ(aroundFilled.state(), Resource::Loaded);
    EXPECT_GT(aroundFilled.changeStamp(), before);
    EXPECT_EQ(aroundFilled.getMemorySize(), 4u * 2u * 4u);
    EXPECT_EQ(image.get<PixelBuffer>()->refCount(), 2);
}

TEST_F(TextureTest, SuspendReleasesTheDeviceImageAndResumeMakesItFromThePixelsKept)
{
    const Ref image = filledImage(2, 2);
    PixelBuffer* buffer = image.get<PixelBuffer>();
    Texture texture(buffer);
    const Bytes pixels = pixelsOf(*buffer);

    Texture fresh;
    const u32 freshStamp = fresh.changeStamp();
    fresh.suspend();
    EXPECT_EQ(fresh.state(), Resource::New);
    EXPECT_EQ(fresh.changeStamp(), freshStamp);

    const u32 loadedStamp = texture.changeStamp();
    texture.suspend();
    EXPECT_EQ(texture.state(), Resource::Suspended);
    EXPECT_FALSE(buffer->hasDeviceObject());
    EXPECT_EQ(pixelsOf(*buffer), pixels);
    const u32 suspendedStamp = texture.changeStamp();
    EXPECT_GT(suspendedStamp, loadedStamp);

    texture.resume();
    EXPECT_EQ(texture.state(), Resource::Loaded);
    EXPECT_TRUE(buffer->hasDeviceObject());
    EXPECT_EQ(pixelsOf(*buffer), pixels);
    EXPECT_GT(texture.changeStamp(), suspendedStamp);
}

TEST_F(TextureTest, CreateTextureBuildsAnEmptyTextureInTheCacheUnderItsName)
{
    assets::DefaultResourceCache cache;
    Texture* texture = createTexture("courier.mofo", cache);

    const u64 key = strings::murmurHash64A("courier.mofo", 12, 0) ^ assets::ResourceType::Texture;
    assets::CacheEntry* entry = cache.find(key);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->typeId, assets::ResourceType::Texture);
    EXPECT_EQ(entry->resource, static_cast<void*>(static_cast<RefCounted*>(texture)));
    EXPECT_EQ(entry->handleCount, 0);
    EXPECT_EQ(texture->refCount(), 1);
    EXPECT_EQ(texture->state(), Resource::New);
    EXPECT_EQ(texture->pixelBuffer(), m_device.images.back());

    // The cache destroys it with everything else.
    cache.clear();
    EXPECT_EQ(cache.count(), 0u);
}

// A video-mode change the display cannot make in place: the textures of the
// cache give up their device images across the reopening and get them back
// from the pixels they kept.
TEST_F(TextureTest, TexturesSurviveAReopeningDisplay)
{
    assets::DefaultResourceCache cache;
    Texture* texture = createTexture("survivor", cache);
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    texture->pixelBuffer()->setData(pixels.data(), PixelBufferFormat::create2D(2, 1, PixelFormat::A8B8G8R8),
                                    nullptr, 0);
    texture->markLoaded();

    Display& display = m_display.display();
    DisplayMode small;
    small.width = 640;
    small.height = 480;
    display.openWithVideoMode(small, display.defaultConfiguration());
    DisplayMode large = small;
    large.width = 800;
    large.height = 600;
    ASSERT_TRUE(display.changeVideoMode(large, display.defaultConfiguration(), cache));

    EXPECT_EQ(texture->state(), Resource::Loaded);
    EXPECT_TRUE(texture->pixelBuffer()->hasDeviceObject());
    EXPECT_EQ(pixelsOf(*texture->pixelBuffer()), pixels);
    display.close();
}

TEST(TextureFormatClass, ColourFormatsTheTargetsSingleOut)
{
    EXPECT_EQ(textureFormatClass(PixelFormat::B8G8R8), static_cast<u32>(Texture::ColourB8G8R8));
    EXPECT_EQ(textureFormatClass(PixelFormat::A8B8G8R8), static_cast<u32>(Texture::ColourA8B8G8R8));
    EXPECT_EQ(textureFormatClass(PixelFormat::R8G8B8), static_cast<u32>(Texture::OtherFormat));
    EXPECT_EQ(textureFormatClass(PixelFormat::D24S8), static_cast<u32>(Texture::OtherFormat));
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, CreatingANameTheCacheHoldsIsFatal)
{
    assets::DefaultResourceCache cache;
    createTexture("twice", cache);
    EXPECT_DEATH(createTexture("twice", cache), "Can't create texture \"twice\" in the resource cache");
}

} // namespace
} // namespace quern::graphics
