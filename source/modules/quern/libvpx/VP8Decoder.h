#pragma once
// The engine's video resource: VP8 frames from an IVF file, decoded one at a
// time by libvpx. The loading screen decodes on its own thread and has the
// main thread copy the planes of the last image into three textures; it
// orders the two, so the decoder itself has no lock.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <vpx/vpx_decoder.h>

#include <memory>
#include <streambuf>

namespace quern::graphics {
class PixelBuffer;
class PixelBufferFormat;
} // namespace quern::graphics

namespace quern::libvpx {

class VP8Decoder : public RefCounted {
public:
    VP8Decoder();
    ~VP8Decoder() override;
    VP8Decoder(const VP8Decoder&) = delete;
    VP8Decoder& operator=(const VP8Decoder&) = delete;

    // Takes the file's bytes, checks the "DKIF" mark (fatal "Unknown video
    // format"), steps over the 32-byte file header and starts libvpx (a
    // failure is fatal with libvpx's text). A decoder already open is closed first.
    void open(std::unique_ptr<std::streambuf> source);

    // Decodes frames until one gives an image: true with a new image. False at
    // the end of the file, after a frame libvpx refuses, and from then on. A
    // cut-short frame header or frame, or a frame size beyond the end of the
    // file, is fatal "Error reading from file".
    bool decodeNextFrame();

    // Plays the video again from its first frame: the source goes back to the
    // end of the file header and the end mark is cleared. The first frame of
    // an IVF is a key frame, so libvpx needs no reset.
    void rewind();

    // The last image as a 2D B8G8R8 layout of its display size; an empty
    // layout while there is no image.
    void getPixelBufferFormat(graphics::PixelBufferFormat& out) const;

    // Copies the last image's planes: Y at the display size, U and V at half of
    // it (integer halves). Each plane is copied where it overlaps its target,
    // so a target of another size (a key frame may change the size) is never
    // written past. Nothing without an image.
    void copyFramePlanes(graphics::PixelBuffer& y, graphics::PixelBuffer& u, graphics::PixelBuffer& v) const;

    // 0 while frames may follow, -1 after the end or a refused frame.
    i32 status() const { return m_status; }
    // Images handed out since the open or the last rewind.
    i32 framesDecoded() const { return m_framesDecoded; }
    // The last image (owned by libvpx until the next decode), or null.
    const vpx_image_t* image() const { return m_image; }

    // The VP8 decoder interface's own name, with libvpx's version.
    static const char* interfaceName();

private:
    void close();
    // Bytes from the read position to the end; ~0 when the source cannot tell.
    u64 bytesLeft();
    // Reads `size` bytes into the frame memory; fatal when the file ends first.
    const u8* readFrame(u32 size);
    void reserveFrameMemory(u64 bytes);

    vpx_codec_ctx_t m_codec;
    vpx_codec_iter_t m_iterator = nullptr;
    std::unique_ptr<std::streambuf> m_source;
    vpx_image_t* m_image = nullptr;
    i32 m_status = 0;
    i32 m_framesDecoded = 0;
    u32 m_decoderFlags = 0;
    bool m_codecReady = false;
    // Reused from frame to frame; grows to the largest frame read.
    u8* m_frameMemory = nullptr;
    u64 m_frameCapacity = 0;
};

} // namespace quern::libvpx
