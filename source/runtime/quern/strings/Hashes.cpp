#include "quern/strings/Hashes.h"

#include <array>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

namespace quern::strings {
namespace {

u64 load64(const u8* p)
{
    u64 value;
    std::memcpy(&value, p, 8); // the engine runs little-endian only
    return value;
}

u32 load32(const u8* p)
{
    u32 value;
    std::memcpy(&value, p, 4);
    return value;
}

// Slicing-by-16: table k advances a byte through k further zero bytes, so 16
// input bytes cost 16 independent lookups instead of a chain of 16.
using CrcTables = std::array<std::array<u32, 256>, 16>;

constexpr CrcTables makeCrcTables()
{
    CrcTables tables{};
    for (u32 i = 0; i < 256; ++i) {
        u32 crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        tables[0][i] = crc;
    }
    for (u32 i = 0; i < 256; ++i)
        for (u32 k = 1; k < 16; ++k)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}

constexpr CrcTables kCrcTables = makeCrcTables();

} // namespace

u64 murmurHash64A(const void* data, u64 length, u64 seed)
{
    constexpr u64 m = 0xc6a4a7935bd1e995ull;
    constexpr int r = 47;
    const auto* bytes = static_cast<const u8*>(data);
    u64 h = seed ^ (length * m);

    const u8* end = bytes + (length & ~u64{7});
    for (; bytes != end; bytes += 8) {
        u64 k = load64(bytes);
        k *= m;
        k ^= k >> r;
        k *= m;
        h ^= k;
        h *= m;
    }
    switch (length & 7) {
    case 7: h ^= u64{bytes[6]} << 48; [[fallthrough]];
    case 6: h ^= u64{bytes[5]} << 40; [[fallthrough]];
    case 5: h ^= u64{bytes[4]} << 32; [[fallthrough]];
    case 4: h ^= u64{bytes[3]} << 24; [[fallthrough]];
    case 3: h ^= u64{bytes[2]} << 16; [[fallthrough]];
    case 2: h ^= u64{bytes[1]} << 8; [[fallthrough]];
    case 1: h ^= u64{bytes[0]}; h *= m;
    }
    h ^= h >> r;
    h *= m;
    h ^= h >> r;
    return h;
}

u32 murmurHash2(const void* data, u64 length)
{
    constexpr u32 m = 0x5bd1e995u;
    constexpr int r = 24;
    const auto* bytes = static_cast<const u8*>(data);
    u32 h = static_cast<u32>(length);

    u64 remaining = length;
    for (; remaining >= 4; remaining -= 4, bytes += 4) {
        u32 k = load32(bytes);
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
    }
    switch (remaining) {
    case 3: h ^= u32{bytes[2]} << 16; [[fallthrough]];
    case 2: h ^= u32{bytes[1]} << 8; [[fallthrough]];
    case 1: h ^= u32{bytes[0]}; h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

namespace {

u32 crc32Bytes(u32 crc, const u8* bytes, u64 length)
{
    const auto& t = kCrcTables;
    for (; length != 0 && (reinterpret_cast<std::uintptr_t>(bytes) & 7) != 0; --length)
        crc = (crc >> 8) ^ t[0][(crc ^ *bytes++) & 0xFF];
    for (; length >= 16; length -= 16, bytes += 16) {
        const u64 a = load64(bytes) ^ crc;
        const u64 b = load64(bytes + 8);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][(a >> 24) & 0xFF]
            ^ t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF] ^ t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56]
            ^ t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF] ^ t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF]
            ^ t[3][(b >> 32) & 0xFF] ^ t[2][(b >> 40) & 0xFF] ^ t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56];
    }
    for (; length != 0; --length)
        crc = (crc >> 8) ^ t[0][(crc ^ *bytes++) & 0xFF];
    return crc;
}

// Folding constants of the carry-less multiplication path: x^n mod P,
// bit-reflected and shifted left by one, as the reflected fold needs them.
constexpr u64 foldConstant(u32 n)
{
    u32 remainder = 0x80000000u; // x^31
    for (u32 i = 31; i < n; ++i)
        remainder = (remainder & 0x80000000u) ? (remainder << 1) ^ 0x04C11DB7u : remainder << 1;
    u32 reflected = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (remainder & (1u << bit))
            reflected |= 1u << (31 - bit);
    return u64{reflected} << 1;
}

constexpr u64 kFold512Low = foldConstant(4 * 128 + 32);
constexpr u64 kFold512High = foldConstant(4 * 128 - 32);
constexpr u64 kFold128Low = foldConstant(128 + 32);
constexpr u64 kFold128High = foldConstant(128 - 32);
static_assert(kFold512Low == 0x154442bd4ull && kFold512High == 0x1c6e41596ull);
static_assert(kFold128Low == 0x1751997d0ull && kFold128High == 0x0ccaa009eull);

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i constants)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00), _mm_clmulepi64_si128(x, constants, 0x11));
}

// Folds the whole 16-byte blocks of at least 64 bytes into one 128-bit value
// congruent to them, then lets the table finish it: the result is the CRC
// register after those blocks. `length` is left at the bytes not yet taken.
__attribute__((target("pclmul,sse2"))) u32 crc32Folded(u32 crc, const u8*& bytes, u64& length)
{
    const auto load = [](const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    __m128i x0 = _mm_xor_si128(load(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = load(bytes + 16);
    __m128i x2 = load(bytes + 32);
    __m128i x3 = load(bytes + 48);
    bytes += 64;
    length -= 64;

    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    for (; length >= 64; length -= 64, bytes += 64) {
        x0 = _mm_xor_si128(fold(x0, k512), load(bytes));
        x1 = _mm_xor_si128(fold(x1, k512), load(bytes + 16));
        x2 = _mm_xor_si128(fold(x2, k512), load(bytes + 32));
        x3 = _mm_xor_si128(fold(x3, k512), load(bytes + 48));
    }
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    __m128i x = _mm_xor_si128(fold(x0, k128), x1);
    x = _mm_xor_si128(fold(x, k128), x2);
    x = _mm_xor_si128(fold(x, k128), x3);
    for (; length >= 16; length -= 16, bytes += 16)
        x = _mm_xor_si128(fold(x, k128), load(bytes));

    alignas(16) u8 folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
    return crc32Bytes(0, folded, 16);
}

bool hasCarrylessMultiply()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") != 0;
    }();
    return supported;
}

} // namespace

u32 crc32(const void* data, u64 length)
{
    return crc32Append(0, data, length);
}

u32 crc32Append(u32 previous, const void* data, u64 length)
{
    const auto* bytes = static_cast<const u8*>(data);
    u32 crc = ~previous;
    if (length >= 64 && hasCarrylessMultiply())
        crc = crc32Folded(crc, bytes, length);
    return ~crc32Bytes(crc, bytes, length);
}

} // namespace quern::strings
