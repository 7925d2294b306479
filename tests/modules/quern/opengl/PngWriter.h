#pragma once
// Writes an RGB image as a PNG file with stored (uncompressed) deflate blocks,
// so that a person can look at what a drawing test drew.

#include "quern/Types.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quern::opengl::testing {

inline u32 pngCrc(const u8* data, u64 size, u32 crc = 0xffffffffu)
{
    for (u64 i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// `rgb` holds rows bottom first (as GL reads them); the file stores them top first.
inline bool writePng(const std::string& path, u32 width, u32 height, const std::vector<u8>& rgb)
{
    std::vector<u8> raw;
    for (u32 row = 0; row < height; ++row) {
        raw.push_back(0);
        const u8* line = &rgb[static_cast<u64>(height - 1 - row) * width * 3];
        raw.insert(raw.end(), line, line + static_cast<u64>(width) * 3);
    }
    std::vector<u8> z = { 0x78, 0x01 };
    u32 a = 1;
    u32 b = 0;
    for (u8 byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (u64 at = 0; at < raw.size() || at == 0; at += 65535) {
        const u64 n = std::min<u64>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<u8>(n));
        z.push_back(static_cast<u8>(n >> 8));
        z.push_back(static_cast<u8>(~n));
        z.push_back(static_cast<u8>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<i64>(at), raw.begin() + static_cast<i64>(at + n));
    }
    const u32 adler = (b << 16) | a;
    for (int shift = 24; shift >= 0; shift -= 8)
        z.push_back(static_cast<u8>(adler >> shift));

    std::vector<u8> file = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    auto chunk = [&](const char* type, const std::vector<u8>& data) {
        const u32 size = static_cast<u32>(data.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            file.push_back(static_cast<u8>(size >> shift));
        std::vector<u8> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        file.insert(file.end(), body.begin(), body.end());
        const u32 crc = pngCrc(body.data(), body.size()) ^ 0xffffffffu;
        for (int shift = 24; shift >= 0; shift -= 8)
            file.push_back(static_cast<u8>(crc >> shift));
    };
    std::vector<u8> header;
    for (u32 value : { width, height })
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<u8>(value >> shift));
    header.insert(header.end(), { 8, 2, 0, 0, 0 });
    chunk("IHDR", header);
    chunk("IDAT", z);
    chunk("IEND", {});
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

} // namespace quern::opengl::testing
