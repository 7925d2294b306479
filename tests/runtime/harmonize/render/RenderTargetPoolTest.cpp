#include "harmonize/render/RenderTargetPool.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureRenderTarget.h"

#include <gtest/gtest.h>

namespace harmonize {
namespace {

using quern::graphics::ChannelContent;
using quern::graphics::PixelFormat;
using quern::graphics::TextureRenderTarget;

class RenderTargetPoolTest : public ::testing::Test {
protected:
    void SetUp() override { quern::graphics::Display::set(new quern::graphics::NullDisplay()); }
    void TearDown() override { quern::graphics::Display::set(nullptr); }

    static const quern::graphics::PixelBuffer& image(TextureRenderTarget* target, quern::u64 index)
    {
        return *target->texture(index)->pixelBuffer();
    }
};

TEST_F(RenderTargetPoolTest, HeldTargetsAreDistinctAndComeBackInPoolOrderOnceReleased)
{
    RenderTargetPool pool(*quern::graphics::Display::get());
    const RenderTargetRequest request = RenderTargetRequest::colour(320, 180);
    TextureRenderTarget* first = pool.acquire(request);
    TextureRenderTarget* second = pool.acquire(request);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->width(), 320u);
    EXPECT_EQ(first->height(), 180u);

    // Released the other way round, still handed out first entry first.
    pool.release(second);
    pool.release(first);
    EXPECT_EQ(pool.acquire(request), first);
    EXPECT_EQ(pool.acquire(request), second);
    EXPECT_EQ(pool.entryCount(), 2u);
    EXPECT_EQ(pool.useCount(0), 1);
    EXPECT_EQ(pool.useCount(1), 1);
}

TEST_F(RenderTargetPoolTest, ARequestDifferingInAnyOneValueGetsItsOwnTarget)
{
    const RenderTargetRequest base = RenderTargetRequest::colour(64, 32);
    RenderTargetRequest variants[7] = { base, base, base, base, base, base, base };
    variants[0].width = 65;
    variants[1].height = 33;
    variants[2].reserved = 1;
    variants[3].depthBits = 16;
    variants[4].colourFormat = RenderTargetRequest::kColourB8G8R8A8;
    variants[5].kind = 3;
    variants[6].usage = 2;
    for (int changed = 0; changed < 7; ++changed) {
        RenderTargetPool pool(*quern::graphics::Display::get());
        TextureRenderTarget* original = pool.acquire(base);
        pool.release(original);
        EXPECT_NE(pool.acquire(variants[changed]), original) << "value " << changed + 1;
        EXPECT_EQ(pool.entryCount(), 2u) << "value " << changed + 1;
    }
}

TEST_F(RenderTargetPoolTest, DepthBitsAddADepthAttachmentOfThatWidth)
{
    RenderTargetPool pool(*quern::graphics::Display::get());
    RenderTargetRequest withDepth = RenderTargetRequest::colour(128, 64);
    withDepth.depthBits = 24;
    TextureRenderTarget* deep = pool.acquire(withDepth);
    ASSERT_EQ(deep->textureCount(), 2u);
    EXPECT_EQ(image(deep, 0).pixelFormat(), PixelFormat::B8G8R8);
    const quern::graphics::PixelBufferFormat& depth = image(deep, 1).format();
    EXPECT_EQ(depth.width, 128u);
    EXPECT_EQ(depth.height, 64u);
    ASSERT_EQ(depth.pixelFormat.channelCount, 1);
    EXPECT_EQ(depth.pixelFormat.channels[0].content, ChannelContent::D);
    EXPECT_EQ(depth.pixelFormat.channels[0].bits, 24u);
    EXPECT_EQ(deep->findDepthTexture(), deep->texture(1));

    TextureRenderTarget* flat = pool.acquire(RenderTargetRequest::colour(128, 64));
    EXPECT_EQ(flat->textureCount(), 1u);
    EXPECT_EQ(flat->findDepthTexture(), nullptr);
}

TEST_F(RenderTargetPoolTest, ColourCodesChooseTheImageFormat)
{
    struct Case {
        quern::i32 code;
        PixelFormat format;
    };
    const Case cases[] = {
        { RenderTargetRequest::kColourB8G8R8, PixelFormat::B8G8R8 },
        { RenderTargetRequest::kColourB8G8R8A8, PixelFormat::B8G8R8A8 },
        { RenderTargetRequest::kDepth16, PixelFormat::D16 },
        { RenderTargetRequest::kDepth32, PixelFormat::D32 },
        { 5, PixelFormat() },
    };
    RenderTargetPool pool(*quern::graphics::Display::get());
    for (const Case& entry : cases) {
        RenderTargetRequest request = RenderTargetRequest::colour(16, 16);
        request.colourFormat = entry.code;
        TextureRenderTarget* target = pool.acquire(request);
        EXPECT_EQ(image(target, 0).pixelFormat(), entry.format) << "code " << entry.code;
        // B8G8R8A8 keeps blue in the lowest bits, unlike the frame's A8B8G8R8.
        if (entry.code == RenderTargetRequest::kColourB8G8R8A8) {
            EXPECT_EQ(image(target, 0).pixelFormat().channels[0].content, ChannelContent::B);
        }
    }
}

TEST_F(RenderTargetPoolTest, ReleasingAForeignOrFreeTargetChangesNothing)
{
    RenderTargetPool pool(*quern::graphics::Display::get());
    TextureRenderTarget* held = pool.acquire(RenderTargetRequest::colour(8, 8));
    TextureRenderTarget* freed = pool.acquire(RenderTargetRequest::colour(8, 8));
    pool.release(freed);
    quern::Ref stranger(new TextureRenderTarget());
    pool.release(stranger.get<TextureRenderTarget>());
    pool.release(freed);
    pool.release(nullptr);
    EXPECT_EQ(pool.useCount(0), 1);
    EXPECT_EQ(pool.useCount(1), 0);
    EXPECT_EQ(pool.acquire(RenderTargetRequest::colour(8, 8)), freed);
    EXPECT_NE(held, freed);
}

using RenderTargetPoolDeathTest = RenderTargetPoolTest;

TEST_F(RenderTargetPoolDeathTest, ATargetTheDeviceCannotMakeIsFatal)
{
    RenderTargetPool pool(*quern::graphics::Display::get(),
        [](const quern::graphics::TextureRenderTargetDescription&, quern::graphics::Display&) -> TextureRenderTarget* {
            return nullptr;
        });
    EXPECT_DEATH(pool.acquire(RenderTargetRequest::colour(8, 8)), "Failed to create render target");
}

} // namespace
} // namespace harmonize
