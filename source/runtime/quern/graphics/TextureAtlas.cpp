#include "quern/graphics/TextureAtlas.h"

#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"
#include "quern/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace quern::graphics {
namespace {

using ull = unsigned long long;

[[noreturn]] void rejectAtlas(const char* reason)
{
    QUERN_FATAL(strings::format<256>("Invalid texture atlas: %s", reason));
}

} // namespace

TextureAtlas::~TextureAtlas() { releaseBlock(); }

void TextureAtlas::releaseBlock()
{
    if (m_block && m_allocator)
        m_allocator->free(m_block);
    m_block = nullptr;
    m_blockSize = 0;
    m_regions.clear();
    m_hashes.clear();
    m_pool = "";
    m_poolLength = 0;
}

void TextureAtlas::setData(void* block, u64 size, memory::Allocator* allocator)
{
    releaseBlock();
    m_block = static_cast<u8*>(block);
    m_blockSize = size;
    m_allocator = allocator;
    if (size == 0)
        return;
    if (!block || size < kAtlasRegionsOffset)
        rejectAtlas(strings::format<128>("a region block of %llu bytes has no room for its count", ull { size }));

    const u64 count = readLittleEndian32(m_block);
    if (count == 0)
        return;
    // Every region takes 44 bytes and a hash; check before multiplying far.
    const u64 regionsEnd = kAtlasRegionsOffset + count * sizeof(TextureRegion);
    const u64 hashesOffset = (regionsEnd + 7) & ~u64 { 7 };
    const u64 hashesEnd = hashesOffset + count * sizeof(u64);
    if (hashesEnd > size)
        rejectAtlas(
            strings::format<128>("%llu regions do not fit a region block of %llu bytes", ull { count }, ull { size }));

    TextureRegion* regions = static_cast<TextureRegion*>(m_regions.expand(count));
    for (u64 i = 0; i < count; ++i) {
        const u8* record = m_block + kAtlasRegionsOffset + i * sizeof(TextureRegion);
        u32 fields[11];
        for (u32 f = 0; f < 11; ++f)
            fields[f] = readLittleEndian32(record + f * 4);
        std::memcpy(&regions[i], fields, sizeof fields);
    }
    const TextureRegion& last = regions[count - 1];
    const u64 poolLength = u64 { last.nameOffset } + last.nameLength;
    if (poolLength > size - hashesEnd)
        rejectAtlas(strings::format<128>("a string pool of %llu bytes does not fit the %llu bytes after the hashes",
            ull { poolLength }, ull { size - hashesEnd }));
    for (u64 i = 0; i < count; ++i)
        if (u64 { regions[i].nameOffset } + regions[i].nameLength > poolLength)
            rejectAtlas(strings::format<128>(
                "the name of region %llu lies outside the %llu-byte string pool", ull { i }, ull { poolLength }));

    u64* hashes = static_cast<u64*>(m_hashes.expand(count));
    for (u64 i = 0; i < count; ++i)
        hashes[i] = readLittleEndian64(m_block + hashesOffset + i * sizeof(u64));
    m_pool = reinterpret_cast<const char*>(m_block + hashesEnd);
    m_poolLength = poolLength;
}

std::string_view TextureAtlas::regionName(const TextureRegion& region) const
{
    if (region.nameOffset >= m_poolLength)
        return {};
    const u64 length = std::min<u64>(region.nameLength, m_poolLength - region.nameOffset);
    return std::string_view(m_pool + region.nameOffset, length);
}

const TextureRegion* TextureAtlas::findRegion(std::string_view name) const
{
    const u64 hash = strings::murmurHash64A(name.data(), name.size(), strings::kInternerSeed);
    const u64* hashes = m_hashes.dataAs<u64>();
    const TextureRegion* regions = m_regions.dataAs<TextureRegion>();
    for (u64 i = 0; i < m_regions.count(); ++i) {
        if (hashes[i] != hash || regions[i].nameLength != name.size())
            continue;
        if (regionName(regions[i]) == name)
            return &regions[i];
    }
    return nullptr;
}

} // namespace quern::graphics
