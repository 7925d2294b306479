#pragma once
// Videos made by vpxenc for the decoder tests, vpxdec's frames to compare
// with, and edits of an IVF file frame by frame (the faults the tests need).

#include "support/MediaFiles.h"

#include "quern/LittleEndian.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/libvpx/IVFFile.h"
#include "quern/libvpx/VP8Decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace quern::libvpx::testing {

namespace media = quern::testing::media;
using media::Bytes;

inline media::fs::path videoDirectory() { return media::fs::path(QUERN_TEST_BINARY_DIR) / "media"; }

// The file of a vpxenc video, made on first use.
inline Bytes video(const std::string& name, u32 width, u32 height, u32 frames, const std::string& extra = "")
{
    const media::fs::path path = media::vp8Video(videoDirectory(), name, width, height, frames, extra);
    EXPECT_FALSE(path.empty()) << "vpxenc failed for " << name;
    return path.empty() ? Bytes {} : media::readFile(path);
}

// vpxdec's frames of `file` (written next to the other media).
inline Bytes vpxdecOf(const Bytes& file, const std::string& name)
{
    const media::fs::path path = videoDirectory() / (name + ".ivf");
    media::fs::create_directories(path.parent_path());
    media::writeFile(path, file);
    return media::vpxdecFrames(path);
}

struct FrameSpan {
    u64 header = 0; // offset of the 12-byte frame header
    u32 size = 0;
    u64 data() const { return header + kIVFFrameHeaderBytes; }
};

// Where each frame of a well-formed IVF lies.
inline std::vector<FrameSpan> framesOf(const Bytes& file)
{
    std::vector<FrameSpan> frames;
    for (u64 at = kIVFHeaderBytes; at + kIVFFrameHeaderBytes <= file.size();) {
        const u32 size = readLittleEndian32(file.data() + at);
        frames.push_back({ at, size });
        at += kIVFFrameHeaderBytes + size;
    }
    return frames;
}

inline std::unique_ptr<std::streambuf> streamOf(const Bytes& file)
{
    return std::make_unique<std::stringbuf>(std::string(file.begin(), file.end()), std::ios::in);
}

// An 8-bit one-channel image of width x height, every byte `fill`.
inline Ref planeImage(u32 width, u32 height, u8 fill = 0)
{
    auto* image = new graphics::NullPixelBuffer;
    Ref held(image);
    image->create(graphics::PixelBufferFormat::create2D(width, height, graphics::PixelFormat::L8, 0, 0, 0), 0);
    u8* pixels = image->lockPixelsForWrite();
    std::fill(pixels, pixels + image->byteSize(), fill);
    image->unlockPixels();
    return held;
}

inline Bytes bytesOf(const Ref& image)
{
    const auto& buffer = *image.get<graphics::PixelBuffer>();
    const u8* pixels = buffer.lockPixels();
    Bytes bytes(pixels, pixels + buffer.byteSize());
    buffer.unlockPixels();
    return bytes;
}

// Rows x columns of a plane stored with `stride`.
inline Bytes crop(const u8* plane, u64 stride, u32 columns, u32 rows)
{
    Bytes out;
    for (u32 y = 0; y < rows; ++y)
        out.insert(out.end(), plane + y * stride, plane + y * stride + columns);
    return out;
}

// The three planes the decoder copies of one frame of vpxdec's I420 output:
// Y whole, U and V at the decoder's integer-half size.
struct Planes {
    Bytes y, u, v;
    bool operator==(const Planes&) const = default;
};

inline Planes referencePlanes(const Bytes& i420, u32 width, u32 height, u32 frame)
{
    const u32 cw = media::chromaSize(width), ch = media::chromaSize(height);
    if (i420.size() < media::i420FrameBytes(width, height) * (frame + 1))
        return {}; // vpxdec gave fewer frames: the comparison fails
    const u8* base = i420.data() + media::i420FrameBytes(width, height) * frame;
    const u8* u = base + u64 { width } * height;
    const u8* v = u + u64 { cw } * ch;
    return { crop(base, width, width, height), crop(u, cw, width / 2, height / 2), crop(v, cw, width / 2, height / 2) };
}

// Copies the decoder's image into targets of exactly the plane sizes.
inline Planes copiedPlanes(const VP8Decoder& decoder, u32 width, u32 height)
{
    Ref y = planeImage(width, height), u = planeImage(width / 2, height / 2), v = planeImage(width / 2, height / 2);
    decoder.copyFramePlanes(
        *y.get<graphics::PixelBuffer>(), *u.get<graphics::PixelBuffer>(), *v.get<graphics::PixelBuffer>());
    return { bytesOf(y), bytesOf(u), bytesOf(v) };
}

} // namespace quern::libvpx::testing
