#pragma once
// A small DDS writer for tests and benchmarks: a header built from a few
// fields, followed by pixel bytes of a recognisable pattern (byte i of the
// payload is (i * 7 + 3) mod 256, so a read from the wrong offset shows).

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::graphics::testing {

struct DDSFileSpec {
    u32 width = 4;
    u32 height = 4;
    u32 depth = 0;
    u32 mipMapCount = 0;
    u32 extensionWord = 0;
    u32 pixelFlags = 0;
    std::string fourCC; // four characters, or empty
    u32 bitCount = 0;
    u32 masks[4] = {}; // red, green, blue, alpha
    u32 caps2 = 0;
    bool dx10 = false;
    u32 dxgiFormat = 0;
    // Overrides of fields that a valid file must carry.
    u32 magic = 0x20534444;
    u32 headerSize = 124;
    u32 pixelFormatSize = 32;
};

inline void putU32(std::vector<u8>& out, u64 offset, u32 value)
{
    for (u32 i = 0; i < 4; ++i)
        out[offset + i] = static_cast<u8>(value >> (8 * i));
}

inline u32 fourCCWord(const std::string& text)
{
    u32 word = 0;
    for (u32 i = 0; i < 4 && i < text.size(); ++i)
        word |= static_cast<u32>(static_cast<u8>(text[i])) << (8 * i);
    return word;
}

inline u8 payloadByte(u64 index) { return static_cast<u8>(index * 7 + 3); }

// The header (and DX10 header) of `spec`, then `payloadBytes` pattern bytes.
inline std::vector<u8> makeDDS(const DDSFileSpec& spec, u64 payloadBytes)
{
    const u64 headerBytes = spec.dx10 ? 148 : 128;
    std::vector<u8> file(headerBytes + payloadBytes, 0);
    putU32(file, 0, spec.magic);
    putU32(file, 4, spec.headerSize);
    putU32(file, 8, 0x1007);
    putU32(file, 12, spec.height);
    putU32(file, 16, spec.width);
    putU32(file, 24, spec.depth);
    putU32(file, 28, spec.mipMapCount);
    putU32(file, 36, spec.extensionWord);
    putU32(file, 76, spec.pixelFormatSize);
    const bool hasFourCC = !spec.fourCC.empty() || spec.dx10;
    putU32(file, 80, spec.pixelFlags | (hasFourCC ? 0x4u : 0u));
    putU32(file, 84, spec.dx10 ? fourCCWord("DX10") : fourCCWord(spec.fourCC));
    putU32(file, 88, spec.bitCount);
    for (u32 i = 0; i < 4; ++i)
        putU32(file, 92 + 4 * i, spec.masks[i]);
    putU32(file, 108, 0x1000);
    putU32(file, 112, spec.caps2);
    if (spec.dx10) {
        putU32(file, 128, spec.dxgiFormat);
        putU32(file, 132, 3); // a 2D texture
    }
    for (u64 i = 0; i < payloadBytes; ++i)
        file[headerBytes + i] = payloadByte(i);
    return file;
}

inline DDSFileSpec dxt1Spec(u32 width, u32 height, u32 levels)
{
    DDSFileSpec spec;
    spec.width = width;
    spec.height = height;
    spec.mipMapCount = levels;
    spec.fourCC = "DXT1";
    return spec;
}

// 32-bit pixels in memory order R, G, B, A.
inline DDSFileSpec rgba32Spec(u32 width, u32 height)
{
    DDSFileSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixelFlags = 0x41;
    spec.bitCount = 32;
    spec.masks[0] = 0x000000ff;
    spec.masks[1] = 0x0000ff00;
    spec.masks[2] = 0x00ff0000;
    spec.masks[3] = 0xff000000;
    return spec;
}

// Bytes of a DXT1 chain of `levels` levels from width x height down.
inline u64 dxt1ChainBytes(u32 width, u32 height, u32 levels)
{
    u64 total = 0;
    for (u32 i = 0; i < levels; ++i) {
        total += u64 { (width + 3) / 4 } * ((height + 3) / 4) * 8;
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return total;
}

} // namespace quern::graphics::testing
