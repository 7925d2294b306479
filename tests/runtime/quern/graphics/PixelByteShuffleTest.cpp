#include "quern/graphics/PixelConverter.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::createPixelConverter;
using quern::graphics::PixelConverter;
using quern::graphics::PixelConverterPath;
using quern::graphics::PixelFormat;
using Bytes = std::vector<u8>;

Channel channel(ChannelContent content, u32 bits) { return Channel { content, ChannelType::Unsigned, bits, 0, 0 }; }

std::vector<PixelFormat> formats()
{
    std::vector<PixelFormat> all = {
        PixelFormat::L8,
        PixelFormat::B8G8R8,
        PixelFormat::R8G8B8,
        PixelFormat::A8R8G8B8,
        PixelFormat::B8G8R8A8,
        PixelFormat::R8G8B8A8,
        PixelFormat::X8B8G8R8,
        PixelFormat::X8R8G8B8,
        PixelFormat::B8G8R8X8,
        PixelFormat::R8G8B8X8,
        PixelFormat::A8B8G8R8,
        PixelFormat::B5G6R5,
        PixelFormat::B5G5R5A1,
        PixelFormat::R5G6B5,
    };
    all.push_back(PixelFormat::fromTwoChannels(channel(ChannelContent::L, 8), channel(ChannelContent::A, 8), 1));
    all.push_back(PixelFormat::fromTwoChannels(channel(ChannelContent::L, 8), channel(ChannelContent::A, 8), 0));
    all.push_back(PixelFormat::fromOneChannel(channel(ChannelContent::A, 8), 0));
    all.push_back(PixelFormat::fromOneChannel(channel(ChannelContent::L, 8), 1));
    // Window-system layouts described by masks, in byte order 0.
    all.push_back(PixelFormat::fromBitMasks(0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000, 32));
    all.push_back(PixelFormat::fromBitMasks(0x000000FF, 0x0000FF00, 0x00FF0000, 0, 32));
    all.push_back(PixelFormat::fromBitMasks(0x000000FF, 0x0000FF00, 0x00FF0000, 0, 24));
    // 8-bit channels that do not start on a byte boundary must stay on the general path.
    PixelFormat shifted;
    shifted.byteOrder = 1;
    for (auto [content, bits] : { std::pair { ChannelContent::X, 4u }, { ChannelContent::B, 8u },
             { ChannelContent::G, 8u }, { ChannelContent::R, 8u }, { ChannelContent::A, 4u } })
        shifted.addChannel(channel(content, bits));
    all.push_back(shifted);
    return all;
}

// Every pair the run converter takes, over runs of many lengths (whole vector
// steps, odd tails, runs shorter than one step) at unaligned addresses: the
// fastest converter writes exactly the general path's bytes and nothing past
// the run.
TEST(PixelByteShuffle, RunsMatchTheGeneralPathForEveryPairLengthAndAlignment)
{
    const u64 counts[] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 15, 16, 17, 19, 31, 32, 33, 63, 64, 65, 2051 };
    const u64 offsets[] = { 0, 1, 3 };
    constexpr u64 kGuard = 32;
    std::mt19937 random(2024);
    u32 pairs = 0;
    for (const PixelFormat& from : formats()) {
        for (const PixelFormat& to : formats()) {
            if (from == to || from.bytesPerPixel > 4 || to.bytesPerPixel > 4)
                continue;
            const std::unique_ptr<PixelConverter> general = createPixelConverter(from, to, PixelConverterPath::General);
            const std::unique_ptr<PixelConverter> fastest = createPixelConverter(from, to);
            ASSERT_EQ(general == nullptr, fastest == nullptr) << from << " -> " << to;
            if (!general)
                continue;
            ++pairs;
            for (u64 count : counts) {
                for (u64 offset : offsets) {
                    // Exactly the run: a sanitizer build catches any read past its end.
                    Bytes source(offset + count * from.bytesPerPixel);
                    for (u8& b : source)
                        b = static_cast<u8>(random());
                    const u64 size = count * to.bytesPerPixel;
                    Bytes expected(offset + size + kGuard, 0xA5);
                    Bytes actual(expected.size(), 0xA5);
                    general->convertRun(source.data() + offset, expected.data() + offset, count, nullptr);
                    fastest->convertRun(source.data() + offset, actual.data() + offset, count, nullptr);
                    ASSERT_EQ(actual, expected)
                        << from << " -> " << to << ", " << count << " pixels at offset " << offset;
                }
            }
        }
    }
    EXPECT_GT(pairs, 100u); // the table really exercises the pairs textures and fonts use
}

// The pairs the fast path exists for, spelled out, so a shuffle built the wrong
// way round fails here with readable bytes even if both paths were to agree.
TEST(PixelByteShuffle, KnownPairsGiveTheirBytes)
{
    struct Case {
        const char* name;
        PixelFormat from;
        PixelFormat to;
        Bytes in;
        Bytes out;
    };
    const PixelFormat l8a8
        = PixelFormat::fromTwoChannels(channel(ChannelContent::L, 8), channel(ChannelContent::A, 8), 1);
    const Case cases[] = {
        // B8G8R8A8 is stored A, R, G, B; A8B8G8R8 R, G, B, A.
        { "swizzle 32 -> 32", PixelFormat::B8G8R8A8, PixelFormat::A8B8G8R8,
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20 },
            { 2, 3, 4, 1, 6, 7, 8, 5, 10, 11, 12, 9, 14, 15, 16, 13, 18, 19, 20, 17 } },
        { "24 -> 32 alpha filled", PixelFormat::B8G8R8, PixelFormat::A8B8G8R8,
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18 },
            { 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18, 255 } },
        { "32 -> 24 alpha dropped", PixelFormat::A8B8G8R8, PixelFormat::B8G8R8,
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20 },
            { 1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19 } },
        { "luminance to colour", PixelFormat::L8, PixelFormat::A8B8G8R8, { 1, 2, 3, 4, 5 },
            { 1, 1, 1, 255, 2, 2, 2, 255, 3, 3, 3, 255, 4, 4, 4, 255, 5, 5, 5, 255 } },
        // L8A8 is stored A, L.
        { "luminance-alpha to colour", l8a8, PixelFormat::A8B8G8R8, { 9, 1, 8, 2, 7, 3, 6, 4, 5, 5 },
            { 1, 1, 1, 9, 2, 2, 2, 8, 3, 3, 3, 7, 4, 4, 4, 6, 5, 5, 5, 5 } },
    };
    for (const Case& c : cases) {
        const std::unique_ptr<PixelConverter> converter = createPixelConverter(c.from, c.to);
        ASSERT_NE(converter, nullptr) << c.name;
        Bytes out(c.out.size(), 0xEE);
        converter->convertRun(c.in.data(), out.data(), c.in.size() / c.from.bytesPerPixel, nullptr);
        EXPECT_EQ(out, c.out) << c.name;
    }
}

} // namespace
