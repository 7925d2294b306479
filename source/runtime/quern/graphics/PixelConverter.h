#pragma once
// Per-pixel converters between unsigned-integer formats of at most 64 bits, and
// the run converter that moves whole rows of pixels from one format to another.
// Block-compressed, signed and floating-point formats are not converted.

#include "quern/Types.h"
#include "quern/graphics/PixelFormat.h"

#include <memory>

namespace quern::containers {
class Buffer;
}

namespace quern::graphics {

class PixelConverter {
public:
    virtual ~PixelConverter() = default;

    // Reads one source pixel and writes one whole destination pixel. The
    // palette holds 32-bit entries (byte 0 the least significant); only
    // converters from palette formats read it.
    virtual void convert(const void* sourcePixel, void* destinationPixel, containers::Buffer* palette) const = 0;
    // convert for count pixels that follow each other in both runs.
    virtual void convertRun(const void* source, void* destination, u64 count, containers::Buffer* palette) const = 0;

    u32 sourceBytes() const { return m_sourceBytes; }
    u32 destinationBytes() const { return m_destinationBytes; }

protected:
    PixelConverter(u32 sourceBytes, u32 destinationBytes)
        : m_sourceBytes(sourceBytes)
        , m_destinationBytes(destinationBytes)
    {
    }

private:
    u32 m_sourceBytes;
    u32 m_destinationBytes;
};

// Fastest: runs of pairs that only move, fill or drop whole bytes take a byte
// shuffle with exactly the general path's results. General: always the
// per-channel path (the reference the shuffle is checked against).
enum class PixelConverterPath { Fastest, General };

// The converter for the pair, or null when the pair is not supported. The
// converter keeps what it needs of both formats; they need not outlive it.
std::unique_ptr<PixelConverter> createPixelConverter(
    const PixelFormat& source, const PixelFormat& destination, PixelConverterPath path = PixelConverterPath::Fastest);

// Converts runs of pixels. Equal formats are plain byte copies.
class PixelFormatConverter {
public:
    PixelFormatConverter() = default;
    PixelFormatConverter(const PixelFormatConverter&) = delete;
    PixelFormatConverter& operator=(const PixelFormatConverter&) = delete;
    virtual ~PixelFormatConverter();

    // Converts the whole source pixels in byteCount bytes; a trailing partial
    // pixel is left alone.
    virtual void convert(const void* source, u64 byteCount, void* destination, containers::Buffer* palette);
    // Whether runs from source to destination can be converted; refuses formats
    // of 0 or more than 4 bytes per pixel or more than 4 channels.
    virtual bool setup(const PixelFormat& source, const PixelFormat& destination);

    // setup, and on success keeps copies of both formats.
    bool setFormats(const PixelFormat& source, const PixelFormat& destination);

    const PixelFormat& sourceFormat() const { return m_source; }
    const PixelFormat& destinationFormat() const { return m_destination; }

private:
    PixelFormat m_source;
    PixelFormat m_destination;
    std::unique_ptr<PixelConverter> m_converter;
};

// The calling thread's shared run converter set up for the pair, or null when
// the pair is refused. The next call sets it up again.
PixelFormatConverter* findPixelFormatConverter(const PixelFormat& source, const PixelFormat& destination);

} // namespace quern::graphics
