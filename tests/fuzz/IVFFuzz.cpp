// The video reader on arbitrary bytes: the decoder plays the file to its end
// (copying every image into plane targets of a fixed size), rewinds and plays
// its first frame again, or ends in the fatal path. A file the content tool
// accepts must play without a fatal error, so a disagreement is a crash.

#include "FuzzSupport.h"

#include "quern/LittleEndian.h"
#include "quern/graphics/NullPixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/libvpx/IVFFile.h"
#include "quern/libvpx/VP8Decoder.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace quern;

// libvpx makes frame buffers of the size a key frame names (up to 16383
// squared): such inputs test libvpx's memory, not the reader, and are left out.
bool imagesFitTheBudget(const u8* data, std::size_t size)
{
    for (u64 at = libvpx::kIVFHeaderBytes; at + libvpx::kIVFFrameHeaderBytes <= size;) {
        const u32 frameSize = readLittleEndian32(data + at);
        at += libvpx::kIVFFrameHeaderBytes;
        const u64 available = std::min<u64>(frameSize, size - at);
        vpx_codec_stream_info_t info {};
        info.sz = sizeof info;
        if (available
            && vpx_codec_peek_stream_info(vpx_codec_vp8_dx(), data + at, static_cast<unsigned>(available), &info)
                == VPX_CODEC_OK
            && u64 { info.w } * info.h > 512 * 512)
            return false;
        at += available;
    }
    return true;
}

Ref planeImage(u32 width, u32 height)
{
    auto* image = new graphics::NullPixelBuffer;
    Ref held(image);
    image->create(graphics::PixelBufferFormat::create2D(width, height, graphics::PixelFormat::L8, 0, 0, 0), 0);
    return held;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    fuzz::initialize();
    if (!imagesFitTheBudget(data, size))
        return 0;
    std::string reason;
    const bool accepted = libvpx::checkIVFFile(data, size, reason);
    const bool finished = fuzz::runGuarded([&] {
        Ref holder(new libvpx::VP8Decoder);
        auto& decoder = *holder.get<libvpx::VP8Decoder>();
        decoder.open(
            std::make_unique<std::stringbuf>(std::string(reinterpret_cast<const char*>(data), size), std::ios::in));
        Ref y = planeImage(24, 16), u = planeImage(12, 8), v = planeImage(7, 9);
        graphics::PixelBufferFormat format;
        while (decoder.decodeNextFrame()) {
            decoder.getPixelBufferFormat(format);
            decoder.copyFramePlanes(
                *y.get<graphics::PixelBuffer>(), *u.get<graphics::PixelBuffer>(), *v.get<graphics::PixelBuffer>());
        }
        decoder.rewind();
        decoder.decodeNextFrame();
    });
    if (accepted && !finished)
        __builtin_trap();
    return 0;
}
