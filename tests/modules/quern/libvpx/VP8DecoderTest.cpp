#include "VideoTestSupport.h"
#include "support/ForwardOnlyBuffer.h"
#include "support/LogCapture.h"

#include "quern/graphics/Display.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace quern::libvpx {
namespace {

using namespace testing;

using quern::testing::ForwardOnlyBuffer;

class VP8DecoderTest : public ::testing::Test {
protected:
    void SetUp() override { graphics::Display::set(nullptr); }
};

// Decodes every frame and checks each against vpxdec's output of the same file.
void expectFramesMatch(VP8Decoder& decoder, const Bytes& reference, u32 width, u32 height, u32 frames)
{
    for (u32 frame = 0; frame < frames; ++frame) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        ASSERT_TRUE(decoder.decodeNextFrame());
        graphics::PixelBufferFormat format;
        decoder.getPixelBufferFormat(format);
        EXPECT_EQ(format.type, graphics::PixelBufferFormat::Type::Image2D);
        EXPECT_EQ(format.pixelFormat, graphics::PixelFormat::B8G8R8);
        EXPECT_EQ(format.width, width);
        EXPECT_EQ(format.height, height);
        EXPECT_EQ(format.depth, 1u);
        EXPECT_EQ(format.mipCount, 0u);
        EXPECT_EQ(format.pixelCount, width * height);
        EXPECT_EQ(format.rowPitch, width * 3u);
        ASSERT_EQ(copiedPlanes(decoder, width, height), referencePlanes(reference, width, height, frame));
    }
    EXPECT_EQ(decoder.framesDecoded(), static_cast<i32>(frames));
    EXPECT_FALSE(decoder.decodeNextFrame());
    EXPECT_EQ(decoder.status(), -1);
    EXPECT_FALSE(decoder.decodeNextFrame());
}

constexpr const char* kAltRef = "--good --passes=2 --auto-alt-ref=1 --lag-in-frames=16";

struct VideoCase {
    const char* name;
    u32 width, height, frames;
    const char* extra;
};

TEST_F(VP8DecoderTest, FramesEqualVpxdecsAndRewindPlaysThemAgain)
{
    const VideoCase cases[] = {
        { "even.ivf", 64, 48, 12, "" },
        { "odd.ivf", 33, 17, 7, "" },
        { "wide.ivf", 641, 481, 3, "--cpu-used=8" },
        // Alternate reference frames are decoded without being shown.
        { "altref.ivf", 96, 64, 60, kAltRef },
    };
    for (const VideoCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = video(c.name, c.width, c.height, c.frames, c.extra);
        const Bytes reference = vpxdecOf(file, std::string(c.name) + ".copy");
        ASSERT_EQ(reference.size(), media::i420FrameBytes(c.width, c.height) * c.frames);
        VP8Decoder decoder;
        decoder.open(streamOf(file));
        EXPECT_EQ(decoder.framesDecoded(), 0);
        expectFramesMatch(decoder, reference, c.width, c.height, c.frames);
        decoder.rewind();
        EXPECT_EQ(decoder.status(), 0);
        EXPECT_EQ(decoder.framesDecoded(), 0);
        expectFramesMatch(decoder, reference, c.width, c.height, c.frames);
    }
}

TEST_F(VP8DecoderTest, AltRefVideoReallyHasHiddenFrames)
{
    // Guards the case above: the encoder must have stored more frames than it shows.
    const Bytes file = video("altref.ivf", 96, 64, 60, kAltRef);
    EXPECT_GT(framesOf(file).size(), 60u);
}

TEST_F(VP8DecoderTest, RewindInTheMiddleStartsAgainAtTheFirstFrame)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const Bytes reference = vpxdecOf(file, "even-middle");
    VP8Decoder decoder;
    decoder.open(streamOf(file));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(decoder.decodeNextFrame());
    decoder.rewind();
    expectFramesMatch(decoder, reference, 64, 48, 12);
}

TEST_F(VP8DecoderTest, ASourceThatCannotSeekStillPlaysOnce)
{
    const Bytes file = video("odd.ivf", 33, 17, 7);
    const Bytes reference = vpxdecOf(file, "odd-forward");
    VP8Decoder decoder;
    decoder.open(std::make_unique<ForwardOnlyBuffer>(file));
    expectFramesMatch(decoder, reference, 33, 17, 7);
    decoder.rewind();
    EXPECT_EQ(decoder.status(), -1);
    EXPECT_FALSE(decoder.decodeNextFrame());
}

TEST_F(VP8DecoderTest, OpenLogsTheDecoderInterfaceByItsOwnName)
{
    quern::testing::LogCapture log(3);
    VP8Decoder decoder;
    decoder.open(streamOf(video("even.ivf", 64, 48, 12)));
    const std::string name = VP8Decoder::interfaceName();
    EXPECT_EQ(name.rfind("WebM Project VP8 Decoder v", 0), 0u) << name;
    EXPECT_EQ(log.count("Using " + name), 1u) << log.text();
}

TEST_F(VP8DecoderTest, HeaderOnlyFilesHaveNoFrames)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    for (u64 length : { u64 { 4 }, u64 { 20 }, kIVFHeaderBytes }) {
        SCOPED_TRACE(length);
        VP8Decoder decoder;
        decoder.open(streamOf(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length))));
        EXPECT_FALSE(decoder.decodeNextFrame());
        EXPECT_EQ(decoder.status(), -1);
        EXPECT_FALSE(decoder.decodeNextFrame());
        decoder.rewind();
        EXPECT_FALSE(decoder.decodeNextFrame());
        graphics::PixelBufferFormat format;
        decoder.getPixelBufferFormat(format);
        EXPECT_EQ(format.type, graphics::PixelBufferFormat::Type::None);
        EXPECT_EQ(format.width, 0u);
    }
}

TEST_F(VP8DecoderTest, AFrameLibvpxRefusesEndsTheVideoQuietly)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const std::vector<FrameSpan> frames = framesOf(file);
    Bytes broken = file;
    // A key frame whose start code is wrong.
    broken[frames[3].data()] &= 0xfe;
    broken[frames[3].data() + 3] = 0;
    Bytes empty(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(frames[3].header));
    const u8 zeroFrame[12] = {};
    empty.insert(empty.end(), zeroFrame, zeroFrame + 12);
    empty.insert(empty.end(), file.begin() + static_cast<std::ptrdiff_t>(frames[4].header), file.end());
    for (const Bytes* bytes : { &broken, &empty }) {
        VP8Decoder decoder;
        decoder.open(streamOf(*bytes));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(decoder.decodeNextFrame());
        EXPECT_FALSE(decoder.decodeNextFrame());
        EXPECT_EQ(decoder.status(), -1);
        EXPECT_EQ(decoder.framesDecoded(), 3);
        EXPECT_FALSE(decoder.decodeNextFrame());
    }
}

// Clears the show-frame bit of a frame: libvpx decodes it for reference only.
Bytes hideFrame(const Bytes& file, u64 frame)
{
    Bytes hidden = file;
    hidden[framesOf(file)[frame].data()] &= static_cast<u8>(~0x10);
    return hidden;
}

TEST_F(VP8DecoderTest, FramesWithoutAnImageArePassedOver)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const Bytes hidden = hideFrame(file, 4);
    const Bytes reference = vpxdecOf(hidden, "even-hidden");
    ASSERT_EQ(reference.size(), media::i420FrameBytes(64, 48) * 11);
    VP8Decoder decoder;
    decoder.open(streamOf(hidden));
    expectFramesMatch(decoder, reference, 64, 48, 11);
}

TEST_F(VP8DecoderTest, AHiddenLastFrameEndsTheVideoWithoutAnImage)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    VP8Decoder decoder;
    decoder.open(streamOf(hideFrame(file, 11)));
    for (int i = 0; i < 11; ++i)
        ASSERT_TRUE(decoder.decodeNextFrame());
    EXPECT_FALSE(decoder.decodeNextFrame());
    EXPECT_EQ(decoder.image(), nullptr);
    // Nothing to copy: the targets keep what they held.
    Ref y = planeImage(64, 48, 7), u = planeImage(32, 24, 7), v = planeImage(32, 24, 7);
    decoder.copyFramePlanes(
        *y.get<graphics::PixelBuffer>(), *u.get<graphics::PixelBuffer>(), *v.get<graphics::PixelBuffer>());
    EXPECT_EQ(bytesOf(y), Bytes(64 * 48, 7));
}

TEST_F(VP8DecoderTest, PlanesAreCopiedWhereTheyOverlapTheirTargets)
{
    const Bytes file = video("odd.ivf", 33, 17, 7);
    const Bytes reference = vpxdecOf(file, "odd-overlap");
    const Planes expected = referencePlanes(reference, 33, 17, 0);
    VP8Decoder decoder;
    decoder.open(streamOf(file));
    ASSERT_TRUE(decoder.decodeNextFrame());

    // Smaller targets take the top-left corner.
    Ref y = planeImage(10, 5, 0xee), u = planeImage(3, 2, 0xee), v = planeImage(20, 1, 0xee);
    decoder.copyFramePlanes(
        *y.get<graphics::PixelBuffer>(), *u.get<graphics::PixelBuffer>(), *v.get<graphics::PixelBuffer>());
    EXPECT_EQ(bytesOf(y), crop(expected.y.data(), 33, 10, 5));
    EXPECT_EQ(bytesOf(u), crop(expected.u.data(), 16, 3, 2));
    Bytes vRow = crop(expected.v.data(), 16, 16, 1);
    vRow.resize(20, 0xee);
    EXPECT_EQ(bytesOf(v), vRow);

    // Larger targets keep their bytes outside the plane.
    Ref bigY = planeImage(40, 20, 0xee);
    Ref bigU = planeImage(16, 8, 0xee), bigV = planeImage(16, 8, 0xee);
    decoder.copyFramePlanes(
        *bigY.get<graphics::PixelBuffer>(), *bigU.get<graphics::PixelBuffer>(), *bigV.get<graphics::PixelBuffer>());
    const Bytes copiedY = bytesOf(bigY);
    EXPECT_EQ(crop(copiedY.data(), 40, 33, 17), expected.y);
    EXPECT_EQ(crop(copiedY.data() + 33, 40, 7, 17), Bytes(7 * 17, 0xee));
    EXPECT_EQ(crop(copiedY.data() + 40 * 17, 40, 40, 3), Bytes(40 * 3, 0xee));

    // A target with no image yet is left alone.
    graphics::NullPixelBuffer none;
    decoder.copyFramePlanes(none, none, none);
    EXPECT_EQ(none.byteSize(), 0u);
}

TEST_F(VP8DecoderTest, AKeyFrameMayChangeTheSizeInTheMiddle)
{
    const Bytes first = video("even.ivf", 64, 48, 12);
    const Bytes second = video("odd.ivf", 33, 17, 7);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin() + static_cast<std::ptrdiff_t>(kIVFHeaderBytes), second.end());
    const Bytes reference = vpxdecOf(second, "odd-joined");
    VP8Decoder decoder;
    decoder.open(streamOf(joined));
    Ref y = planeImage(64, 48, 0xee), u = planeImage(32, 24, 0xee), v = planeImage(32, 24, 0xee);
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(decoder.decodeNextFrame());
    ASSERT_TRUE(decoder.decodeNextFrame());
    graphics::PixelBufferFormat format;
    decoder.getPixelBufferFormat(format);
    EXPECT_EQ(format.width, 33u);
    EXPECT_EQ(format.height, 17u);
    // The old, larger targets take the new image in their corner.
    decoder.copyFramePlanes(
        *y.get<graphics::PixelBuffer>(), *u.get<graphics::PixelBuffer>(), *v.get<graphics::PixelBuffer>());
    const Planes expected = referencePlanes(reference, 33, 17, 0);
    EXPECT_EQ(crop(bytesOf(y).data(), 64, 33, 17), expected.y);
    EXPECT_EQ(crop(bytesOf(u).data(), 32, 16, 8), expected.u);
    EXPECT_EQ(crop(bytesOf(v).data(), 32, 16, 8), expected.v);
}

using VP8DecoderDeathTest = VP8DecoderTest;

TEST_F(VP8DecoderDeathTest, FilesThatAreNoIVFAreFatalAtOpen)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    Bytes wrongMark = file;
    wrongMark[0] = 'R';
    for (const Bytes& bytes : { Bytes {}, Bytes { 'D', 'K', 'I' }, wrongMark }) {
        EXPECT_DEATH(
            {
                VP8Decoder decoder;
                decoder.open(streamOf(bytes));
            },
            "Unknown video format");
    }
    EXPECT_DEATH(VP8Decoder().open(nullptr), "Unknown video format");
}

TEST_F(VP8DecoderDeathTest, CutShortFramesAreFatalReadErrors)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const FrameSpan second = framesOf(file)[1];
    struct Cut {
        const char* what;
        u64 length;
    };
    const Cut cuts[] = {
        { "inside the frame header", second.header + 5 },
        { "inside the frame", second.data() + second.size / 2 },
        { "one byte before the frame's end", second.data() + second.size - 1 },
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.what);
        const Bytes bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut.length));
        EXPECT_DEATH(
            {
                VP8Decoder decoder;
                decoder.open(streamOf(bytes));
                decoder.decodeNextFrame();
                decoder.decodeNextFrame();
            },
            "Error reading from file");
    }
}

TEST_F(VP8DecoderDeathTest, CutShortFramesOfASourceThatCannotSeekAreFatalReadErrors)
{
    const Bytes file = video("even.ivf", 64, 48, 12);
    const FrameSpan second = framesOf(file)[1];
    const Bytes bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(second.data() + second.size - 1));
    EXPECT_DEATH(
        {
            VP8Decoder decoder;
            decoder.open(std::make_unique<ForwardOnlyBuffer>(bytes));
            decoder.decodeNextFrame();
            decoder.decodeNextFrame();
        },
        "Error reading from file");
}

// The address space the process may still map, limited to what it has now
// plus `spare` bytes, so that an allocation of the size a lying header names
// fails where the decoder would make it.
void limitAddressSpace(u64 spare)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    u64 kilobytes = 0;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            kilobytes = std::stoull(line.substr(7));
    const rlim_t limit = kilobytes * 1024 + spare;
    const rlimit value { limit, limit };
    setrlimit(RLIMIT_AS, &value);
}

TEST_F(VP8DecoderDeathTest, AFrameSizeBeyondTheFileIsFatalBeforeAnyAllocation)
{
#if defined(QUERN_SANITIZED)
    GTEST_SKIP() << "the sanitizers' own mappings do not live under an address-space limit";
#endif
    const Bytes file = video("even.ivf", 64, 48, 12);
    const FrameSpan second = framesOf(file)[1];
    // One byte more than the rest of the file, and nearly 4 GB.
    const u32 pastTheEnd = static_cast<u32>(file.size() - second.data() + 1);
    for (u32 size : { pastTheEnd, 0xfffffff0u }) {
        SCOPED_TRACE(size);
        Bytes bytes = file;
        for (int i = 0; i < 4; ++i)
            bytes[second.header + i] = static_cast<u8>(size >> (8 * i));
        EXPECT_DEATH(
            {
                VP8Decoder decoder;
                decoder.open(streamOf(bytes));
                decoder.decodeNextFrame();
                limitAddressSpace(u64 { 1 } << 30);
                decoder.decodeNextFrame();
            },
            "Error reading from file");
    }
}

} // namespace
} // namespace quern::libvpx
