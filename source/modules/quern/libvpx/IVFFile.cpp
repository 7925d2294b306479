#include "quern/libvpx/IVFFile.h"

#include "quern/LittleEndian.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <cstring>

namespace quern::libvpx {
namespace {

// Owns one decoder context for the check; closed on every way out.
class CheckDecoder {
public:
    CheckDecoder() { m_ready = vpx_codec_dec_init(&m_codec, vpx_codec_vp8_dx(), nullptr, 0) == VPX_CODEC_OK; }
    ~CheckDecoder()
    {
        if (m_ready)
            vpx_codec_destroy(&m_codec);
    }
    CheckDecoder(const CheckDecoder&) = delete;
    CheckDecoder& operator=(const CheckDecoder&) = delete;

    bool ready() const { return m_ready; }
    const char* error() const { return vpx_codec_error(const_cast<vpx_codec_ctx_t*>(&m_codec)); }

    // libvpx's own verdict on one frame; its images are drained so the
    // decoder behaves as it does in the engine.
    bool decode(const u8* data, u32 size)
    {
        if (vpx_codec_decode(&m_codec, data, size, nullptr, 0) != VPX_CODEC_OK)
            return false;
        vpx_codec_iter_t iterator = nullptr;
        while (vpx_codec_get_frame(&m_codec, &iterator)) { }
        return true;
    }

private:
    vpx_codec_ctx_t m_codec {};
    bool m_ready = false;
};

} // namespace

bool hasIVFMagic(const u8* bytes, u64 count) { return count >= 4 && std::memcmp(bytes, "DKIF", 4) == 0; }

IVFFrameHeader readIVFFrameHeader(const u8* bytes)
{
    IVFFrameHeader header;
    header.frameSize = readLittleEndian32(bytes);
    header.timeStamp = readLittleEndian64(bytes + 4);
    return header;
}

bool checkIVFFile(const u8* data, u64 size, std::string& reason)
{
    if (!hasIVFMagic(data, size)) {
        reason = "it does not start with \"DKIF\"";
        return false;
    }
    if (size < kIVFHeaderBytes) {
        reason = "it is shorter than the 32-byte IVF header";
        return false;
    }
    CheckDecoder decoder;
    if (!decoder.ready()) {
        reason = "the VP8 decoder does not start";
        return false;
    }
    // A zero-length frame is refused by libvpx like any other bad frame: point
    // it at real memory so libvpx judges the length, not a null pointer.
    static const u8 kNoData = 0;
    u64 position = kIVFHeaderBytes;
    u64 frame = 0;
    for (; position < size; ++frame) {
        const std::string which = "frame " + std::to_string(frame);
        if (size - position < kIVFFrameHeaderBytes) {
            reason = which + " has a cut-short header";
            return false;
        }
        const IVFFrameHeader header = readIVFFrameHeader(data + position);
        position += kIVFFrameHeaderBytes;
        if (header.frameSize > size - position) {
            reason = which + " needs " + std::to_string(header.frameSize) + " bytes, the file has "
                + std::to_string(size - position) + " left";
            return false;
        }
        const u8* bytes = header.frameSize ? data + position : &kNoData;
        if (!decoder.decode(bytes, header.frameSize)) {
            reason = which + " is refused by the VP8 decoder: " + decoder.error();
            return false;
        }
        position += header.frameSize;
    }
    if (frame == 0) {
        reason = "it holds no frames";
        return false;
    }
    return true;
}

} // namespace quern::libvpx
