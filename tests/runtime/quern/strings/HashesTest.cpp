#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using quern::u32;
using quern::u64;
using quern::u8;
namespace strings = quern::strings;

namespace {

// Straightforward renderings of the published algorithms, byte by byte, as
// independent references for the optimised versions.
u64 referenceMurmur64A(const u8* data, u64 length, u64 seed)
{
    const u64 m = 0xc6a4a7935bd1e995ull;
    u64 h = seed ^ (length * m);
    u64 i = 0;
    for (; i + 8 <= length; i += 8) {
        u64 k = 0;
        for (int b = 7; b >= 0; --b)
            k = (k << 8) | data[i + b];
        k *= m;
        k ^= k >> 47;
        k *= m;
        h ^= k;
        h *= m;
    }
    const u64 rest = length - i;
    if (rest != 0) {
        for (u64 b = rest; b-- > 0;)
            h ^= u64{data[i + b]} << (8 * b);
        h *= m;
    }
    h ^= h >> 47;
    h *= m;
    h ^= h >> 47;
    return h;
}

u32 referenceMurmur2(const u8* data, u64 length)
{
    const u32 m = 0x5bd1e995u;
    u32 h = static_cast<u32>(length);
    u64 i = 0;
    for (; i + 4 <= length; i += 4) {
        u32 k = u32{data[i]} | u32{data[i + 1]} << 8 | u32{data[i + 2]} << 16 | u32{data[i + 3]} << 24;
        k *= m;
        k ^= k >> 24;
        k *= m;
        h *= m;
        h ^= k;
    }
    const u64 rest = length - i;
    if (rest != 0) {
        for (u64 b = rest; b-- > 0;)
            h ^= u32{data[i + b]} << (8 * b);
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

// The CRC by its definition: one bit at a time, no table.
u32 referenceCrc32(const u8* data, u64 length)
{
    u32 crc = 0xFFFFFFFFu;
    for (u64 i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

std::vector<u8> randomBytes(u64 size, u32 seed)
{
    std::mt19937 random(seed);
    std::vector<u8> bytes(size);
    for (u8& b : bytes)
        b = static_cast<u8>(random());
    return bytes;
}

} // namespace

TEST(Hashes, Crc32MatchesTheStandardCheckValues)
{
    EXPECT_EQ(strings::crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(strings::crc32("", 0), 0u);
    EXPECT_EQ(strings::crc32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
}

TEST(Hashes, Crc32EqualsTheBitwiseDefinitionForEveryLengthAndAlignment)
{
    const std::vector<u8> buffer = randomBytes(70000, 7);
    std::vector<u64> lengths;
    for (u64 n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (u64 n : {511u, 512u, 513u, 1023u, 4096u, 4099u, 65536u + 13u})
        lengths.push_back(n);
    for (u64 offset = 0; offset < 16; ++offset)
        for (u64 length : lengths)
            ASSERT_EQ(strings::crc32(buffer.data() + offset, length), referenceCrc32(buffer.data() + offset, length))
                << "offset " << offset << ", length " << length;
}

TEST(Hashes, Crc32OfLongRunsOfEqualBytes)
{
    // Zeros and ones exercise the folding constants without help from randomness.
    for (u8 value : {u8{0x00}, u8{0xFF}}) {
        const std::vector<u8> buffer(10000, value);
        EXPECT_EQ(strings::crc32(buffer.data(), buffer.size()), referenceCrc32(buffer.data(), buffer.size()));
    }
}

TEST(Hashes, MurmurHash64AEqualsTheReference)
{
    const std::vector<u8> buffer = randomBytes(1100, 11);
    for (u64 seed : {u64{0}, strings::kInternerSeed, u64{0xFFFFFFFFFFFFFFFFull}})
        for (u64 offset = 0; offset < 8; ++offset)
            for (u64 length = 0; length <= 1024; length += (length < 40 ? 1 : 97))
                ASSERT_EQ(strings::murmurHash64A(buffer.data() + offset, length, seed),
                          referenceMurmur64A(buffer.data() + offset, length, seed))
                    << "seed " << seed << ", offset " << offset << ", length " << length;
}

TEST(Hashes, MurmurHash2EqualsTheReference)
{
    const std::vector<u8> buffer = randomBytes(1100, 13);
    for (u64 offset = 0; offset < 4; ++offset)
        for (u64 length = 0; length <= 1024; length += (length < 40 ? 1 : 97))
            ASSERT_EQ(strings::murmurHash2(buffer.data() + offset, length),
                      referenceMurmur2(buffer.data() + offset, length))
                << "offset " << offset << ", length " << length;
}

TEST(Hashes, TailBytesAreUnsigned)
{
    // A high tail byte must not sign-extend into the upper bits.
    const u8 text[] = {0x41, 0xE9, 0xFF};
    EXPECT_EQ(strings::murmurHash2(text, 3), referenceMurmur2(text, 3));
    EXPECT_EQ(strings::murmurHash64A(text, 3, 0), referenceMurmur64A(text, 3, 0));
    EXPECT_NE(strings::murmurHash64A(text, 3, 0), strings::murmurHash64A(text, 3, strings::kInternerSeed));
}
