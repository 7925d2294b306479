#pragma once
// Whole-entry, memory-to-memory decompression. The blob depot holds one and
// does not know the codec behind it; it only compares an entry's compression
// tag with the decompressor's.

#include "quern/Types.h"
#include "quern/containers/Array.h"

namespace quern::io {

// What one decompression achieved, for callers that must not serve a damaged
// entry.
struct DecompressReport {
    bool succeeded = false; // the codec reported success
    i32 codecStatus = 0; // the codec's own status value
    u64 outputSize = 0; // bytes the codec wrote
};

class Decompressor {
public:
    virtual ~Decompressor() = default;

    // Prepares the codec; may be called again to reset it.
    virtual void init() = 0;

    // The four characters that mark the entries this codec expands, in
    // memory order (as they stand in the blob index).
    virtual u32 formatTag() const = 0;

    // CRC-32 of the bytes.
    virtual u32 checksum(const void* data, u64 length);

    // Expands `input` into the buffer of `output`, whose count (in bytes) must
    // already be the expected size; returns the CRC-32 of that whole buffer.
    // Safe to call from several threads at once.
    virtual u32 decompress(containers::Array& output, const void* input, u64 inputLength) = 0;

    // The same, telling the caller how the codec fared, for callers that must
    // not serve a damaged entry. A codec that cannot tell more is trusted: by
    // default this runs decompress and reports the whole buffer written.
    virtual u32 decompressWithReport(
        containers::Array& output, const void* input, u64 inputLength, DecompressReport& report);
};

// Builds a format tag from its four characters in memory order.
constexpr u32 makeFormatTag(char a, char b, char c, char d)
{
    return static_cast<u32>(static_cast<u8>(a)) | static_cast<u32>(static_cast<u8>(b)) << 8
        | static_cast<u32>(static_cast<u8>(c)) << 16 | static_cast<u32>(static_cast<u8>(d)) << 24;
}

} // namespace quern::io
