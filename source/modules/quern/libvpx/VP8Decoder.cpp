#include "quern/libvpx/VP8Decoder.h"

#include "quern/debug/Log.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/language/Exception.h"
#include "quern/libvpx/IVFFile.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <vpx/vp8dx.h>

#include <algorithm>
#include <cstring>
#include <ios>
#include <limits>

namespace quern::libvpx {
namespace {

constexpr u64 kUnknownSize = std::numeric_limits<u64>::max();
// A source that cannot tell its size is read in pieces of this size, so a
// lying frame header costs at most one piece beyond the file.
constexpr u64 kReadPiece = 1 << 20;
constexpr u64 kFrameAlignment = 4;

using Position = std::streambuf::pos_type;
const Position kSeekFailed = Position(std::streambuf::off_type(-1));

// Copies the overlap of a width x height plane and the target image.
void copyPlane(graphics::PixelBuffer& target, const u8* plane, i32 stride, u32 width, u32 height)
{
    const graphics::PixelBufferFormat& format = target.format();
    const u64 pitch = format.rowPitch;
    if (pitch == 0 || plane == nullptr || stride < 0)
        return;
    const u64 rowBytes = std::min<u64>(width, pitch);
    const u64 rows = std::min<u64>({ height, format.height, target.byteSize() / pitch });
    if (rowBytes == 0 || rows == 0)
        return;
    target.copyRows(plane, rows, static_cast<u64>(stride), pitch, rowBytes, 0, 0);
}

} // namespace

VP8Decoder::VP8Decoder() { std::memset(&m_codec, 0, sizeof m_codec); }

VP8Decoder::~VP8Decoder()
{
    if (m_source)
        close();
    if (m_frameMemory)
        memory::getDefaultAllocator()->free(m_frameMemory);
}

const char* VP8Decoder::interfaceName() { return vpx_codec_iface_name(vpx_codec_vp8_dx()); }

void VP8Decoder::open(std::unique_ptr<std::streambuf> source)
{
    if (m_source)
        close();
    u8 header[kIVFHeaderBytes];
    const std::streamsize got = source ? source->sgetn(reinterpret_cast<char*>(header), sizeof header) : 0;
    if (got < 4 || !hasIVFMagic(header, static_cast<u64>(got)))
        QUERN_FATAL("Unknown video format");
    // A file cut inside its header leaves the source at its end: the first
    // decode finds no frame.
    const vpx_codec_err_t result = vpx_codec_dec_init(&m_codec, vpx_codec_vp8_dx(), nullptr, m_decoderFlags);
    if (result != VPX_CODEC_OK)
        QUERN_FATAL(vpx_codec_err_to_string(result));
    m_codecReady = true;
    QUERN_LOG(3) << "Using " << interfaceName() << std::endl;
    m_source = std::move(source);
    m_iterator = nullptr;
    m_image = nullptr;
    m_status = 0;
    m_framesDecoded = 0;
}

void VP8Decoder::close()
{
    if (m_codecReady)
        vpx_codec_destroy(&m_codec);
    std::memset(&m_codec, 0, sizeof m_codec);
    m_codecReady = false;
    m_image = nullptr;
    m_source.reset();
}

u64 VP8Decoder::bytesLeft()
{
    const Position here = m_source->pubseekoff(0, std::ios::cur, std::ios::in);
    if (here == kSeekFailed)
        return kUnknownSize;
    const Position end = m_source->pubseekoff(0, std::ios::end, std::ios::in);
    m_source->pubseekpos(here, std::ios::in);
    if (end == kSeekFailed || end < here)
        return kUnknownSize;
    return static_cast<u64>(end - here);
}

void VP8Decoder::reserveFrameMemory(u64 bytes)
{
    if (bytes <= m_frameCapacity)
        return;
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    void* grown = memory::reallocate(m_frameMemory, m_frameCapacity, kFrameAlignment, bytes, allocator);
    if (!grown)
        QUERN_OUT_OF_MEMORY();
    m_frameMemory = static_cast<u8*>(grown);
    m_frameCapacity = bytes;
}

const u8* VP8Decoder::readFrame(u32 size)
{
    // A frame header that claims more than the file holds is a broken file,
    // found before anything is allocated for it.
    const u64 left = bytesLeft();
    if (size > left) {
        m_status = -1;
        QUERN_RAISE(FileReadException);
    }
    const u64 step = left == kUnknownSize ? kReadPiece : size;
    u64 got = 0;
    while (got < size) {
        const u64 want = std::min<u64>(size - got, step);
        reserveFrameMemory(std::max<u64>(got + want, 1));
        const std::streamsize n
            = m_source->sgetn(reinterpret_cast<char*>(m_frameMemory + got), static_cast<std::streamsize>(want));
        if (n < static_cast<std::streamsize>(want)) {
            m_status = -1;
            QUERN_RAISE(FileReadException);
        }
        got += want;
    }
    // Even an empty frame gets a real pointer: libvpx takes a null one as a
    // request to flush, where an empty frame is a broken one it refuses.
    reserveFrameMemory(1);
    return m_frameMemory;
}

bool VP8Decoder::decodeNextFrame()
{
    if (m_status < 0 || !m_source)
        return false;
    for (;;) {
        u8 header[kIVFFrameHeaderBytes];
        const std::streamsize got = m_source->sgetn(reinterpret_cast<char*>(header), sizeof header);
        if (got <= 0) {
            m_status = -1;
            return false;
        }
        if (got < static_cast<std::streamsize>(sizeof header)) {
            m_status = -1;
            QUERN_RAISE(FileReadException);
        }
        const IVFFrameHeader frame = readIVFFrameHeader(header);
        const u8* data = readFrame(frame.frameSize);
        // The image of the previous decode belongs to libvpx and is gone now.
        m_image = nullptr;
        if (vpx_codec_decode(&m_codec, data, frame.frameSize, nullptr, 0) != VPX_CODEC_OK) {
            m_status = -1;
            return false;
        }
        m_iterator = nullptr;
        m_image = vpx_codec_get_frame(&m_codec, &m_iterator);
        // A frame decoded only for reference (not shown) has no image: the
        // caller gets the next shown one.
        if (m_image) {
            ++m_framesDecoded;
            return true;
        }
    }
}

void VP8Decoder::rewind()
{
    if (!m_source)
        return;
    const bool positioned = m_source->pubseekpos(kIVFHeaderBytes, std::ios::in) != kSeekFailed;
    // A file cut inside its header has no frame to play again.
    m_status = positioned ? 0 : -1;
    m_framesDecoded = 0;
}

void VP8Decoder::getPixelBufferFormat(graphics::PixelBufferFormat& out) const
{
    if (!m_image) {
        out = graphics::PixelBufferFormat {};
        return;
    }
    out = graphics::PixelBufferFormat::create2D(m_image->d_w, m_image->d_h, graphics::PixelFormat::B8G8R8, 0, 0, 0);
}

void VP8Decoder::copyFramePlanes(graphics::PixelBuffer& y, graphics::PixelBuffer& u, graphics::PixelBuffer& v) const
{
    if (!m_image)
        return;
    const u32 width = m_image->d_w;
    const u32 height = m_image->d_h;
    copyPlane(y, m_image->planes[VPX_PLANE_Y], m_image->stride[VPX_PLANE_Y], width, height);
    copyPlane(u, m_image->planes[VPX_PLANE_U], m_image->stride[VPX_PLANE_U], width / 2, height / 2);
    copyPlane(v, m_image->planes[VPX_PLANE_V], m_image->stride[VPX_PLANE_V], width / 2, height / 2);
}

} // namespace quern::libvpx
