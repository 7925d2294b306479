// Videos go through the content tool, which refuses files the decoder would
// refuse, and come back out of the depot it built through the Video handler.

#include "VideoTestSupport.h"
#include "runtime/quern/assets/DepotTestContent.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/libvpx/VideoHandler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quern::libvpx {
namespace {

using namespace testing;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(VideoContent, VideosLoadThroughTheHandlerAndPlayLikeVpxdec)
{
    const Bytes file = video("odd.ivf", 33, 17, 7);
    const Bytes reference = vpxdecOf(file, "odd-content");
    for (const char* kind : { "blob", "files" }) {
        SCOPED_TRACE(kind);
        quern::test::DepotContent content;
        content.build({ { "intro.ivf", text(file), "", "video" } }, kind);
        const std::unique_ptr<assets::Depot> depot = content.openDepot(kind);
        graphics::Display::set(nullptr);
        assets::AssetHandlerRegistry registry;
        VideoHandler* handler = registry.create<VideoHandler>();
        assets::AssetHandlerRegistry::setInstance(&registry);
        EXPECT_EQ(registry.findHandler(assets::ResourceType::Video), handler);
        assets::DefaultResourceCache cache;
        const u64 id = quern::test::assetId("intro.ivf");
        const u64 key = assets::loadAsset(id, assets::ResourceType::Video, *depot, cache);
        EXPECT_EQ(key, assets::resourceKey(id, assets::ResourceType::Video));

        const u32 handle = cache.acquire(key);
        ASSERT_NE(handle, 0u);
        u64 typeId = 0;
        auto* decoder = static_cast<VP8Decoder*>(cache.entry(handle, typeId));
        EXPECT_EQ(typeId, assets::ResourceType::Video);
        for (u32 frame = 0; frame < 7; ++frame) {
            ASSERT_TRUE(decoder->decodeNextFrame());
            EXPECT_EQ(copiedPlanes(*decoder, 33, 17), referencePlanes(reference, 33, 17, frame));
        }
        EXPECT_FALSE(decoder->decodeNextFrame());
        decoder->rewind();
        EXPECT_TRUE(decoder->decodeNextFrame());
        cache.release(handle);
        cache.clear();
        assets::AssetHandlerRegistry::setInstance(nullptr);
    }
}

TEST(VideoContent, TheHandlerDescribesTheVideoType)
{
    VideoHandler handler;
    assets::AssetHandlerInfo info {};
    handler.describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, 0x36eda775c7d9f67bull);
    EXPECT_FALSE(info.mainThreadStages);
    EXPECT_EQ(info.scratchBytes, 0u);
}

Bytes withFrameSize(Bytes file, const FrameSpan& frame, u32 size)
{
    for (int i = 0; i < 4; ++i)
        file[frame.header + i] = static_cast<u8>(size >> (8 * i));
    return file;
}

TEST(VideoContent, VideosTheEngineWouldRefuseStopTheBuild)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const std::vector<FrameSpan> frames = framesOf(file);
    Bytes refused = file;
    refused[frames[2].data()] &= 0xfe; // a key frame...
    refused[frames[2].data() + 3] = 0; // ...without its start code
    const auto cut
        = [&](u64 length) { return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)); };
    const struct {
        const char* name;
        Bytes bytes;
        std::string reason;
    } cases[] = {
        { "not an IVF file", Bytes { 'R', 'I', 'F', 'F', 0, 0, 0, 0 }, "it does not start with \"DKIF\"" },
        { "a cut-short file header", cut(20), "it is shorter than the 32-byte IVF header" },
        { "no frames", cut(32), "it holds no frames" },
        { "a cut-short frame header", cut(frames[1].header + 11), "frame 1 has a cut-short header" },
        { "a frame past the end", cut(frames[3].data() + frames[3].size - 1),
            "frame 3 needs " + std::to_string(frames[3].size) + " bytes, the file has "
                + std::to_string(frames[3].size - 1) + " left" },
        { "a frame size of nearly 4 GB", withFrameSize(file, frames[0], 0xfffffff0u),
            "frame 0 needs 4294967280 bytes, the file has " + std::to_string(file.size() - 44) + " left" },
        { "a frame the decoder refuses", refused, "frame 2 is refused by the VP8 decoder: " },
        { "an empty frame", withFrameSize(cut(frames[1].data()), frames[1], 0),
            "frame 1 is refused by the VP8 decoder: " },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        quern::test::DepotContent content;
        const std::string error
            = content.tryBuild({ { "ok.ivf", text(file), "", "video" }, { "bad.ivf", text(c.bytes), "", "Video" } });
        const std::string expected = "line 2: video bad.ivf is not a VP8 IVF file the engine plays: " + c.reason;
        EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    }
}

} // namespace
} // namespace quern::libvpx
