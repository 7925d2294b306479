#include "quern/serialize/StringInternerSerialization.h"

#include "quern/io/ByteSink.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/StringInterner.h"
#include "quern/LittleEndian.h"

#include <cstring>
#include <ostream>

namespace quern::serialize {
namespace {

constexpr const char* kInvalidChunk = "Invalid string table chunk";
constexpr const char* kInvalidFile = "Invalid string table file";

// A block that goes back to its allocator however the scope is left.
class ScopedBlock {
public:
    ScopedBlock(memory::Allocator* allocator, u64 size, u64 alignment) : m_allocator(allocator)
    {
        if (size == 0)
            return;
        m_block = m_allocator->allocate(size, alignment);
        if (!m_block)
            QUERN_OUT_OF_MEMORY();
    }
    ~ScopedBlock()
    {
        if (m_block)
            m_allocator->free(m_block);
    }
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;

    template <typename T> T* as() const { return static_cast<T*>(m_block); }
    void* release()
    {
        void* block = m_block;
        m_block = nullptr;
        return block;
    }

private:
    memory::Allocator* m_allocator;
    void* m_block = nullptr;
};

memory::Allocator& defaultAllocator()
{
    memory::Allocator* allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_FATAL("String tables used before the default allocator exists");
    return *allocator;
}

void storeU32(u8* bytes, u32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<u8>(value >> (8 * i));
}

void storeU64(u8* bytes, u64 value)
{
    storeU32(bytes, static_cast<u32>(value));
    storeU32(bytes + 4, static_cast<u32>(value >> 32));
}

// Fills the interner's keys from the key records: every index below the count, each once.
void assignKeys(strings::StringInterner& interner, const StringKeyRecord* records, u32 count)
{
    ScopedBlock seen(&defaultAllocator(), count, 1);
    if (count != 0)
        std::memset(seen.as<u8>(), 0, count);
    for (u32 i = 0; i < count; ++i) {
        const u32 index = records[i].index;
        if (index >= count || seen.as<u8>()[index])
            QUERN_FATAL(kInvalidChunk);
        seen.as<u8>()[index] = 1;
        interner.setKey(index, records[i].key);
    }
}

template <typename Target> void writeInterner(Target& target, PODToken& token, const strings::StringInterner& interner)
{
    const u64 count = interner.count();
    if (count > 0xFFFFFFFFull)
        QUERN_FATAL("Too many strings for a string table chunk");
    const u32 start = token.beginWriteChunk(target, kStringInternerChunkId);
    const u64 seed = interner.seed();
    token.writePOD(target, &seed, 1, &kU64Descriptor, "seed");
    const u32 stored = static_cast<u32>(count);
    token.writePOD(target, &stored, 1, &kU32Descriptor, "count");
    for (u64 i = 0; i < count; ++i) {
        // The reader keeps kMaxInternedTextLength characters: a longer text would come back cut.
        if (std::strlen(interner.text(i)) > kMaxInternedTextLength)
            QUERN_FATAL("String too long for a string table chunk");
        token.writeString(target, interner.text(i), "text");
    }
    // One array, as the reader takes it (the text form orders it component by component).
    ScopedBlock records(&defaultAllocator(), count * sizeof(StringKeyRecord), alignof(StringKeyRecord));
    for (u64 i = 0; i < count; ++i)
        records.as<StringKeyRecord>()[i] = StringKeyRecord{interner.key(i), static_cast<u32>(i), 0};
    token.writePOD(target, records.as<StringKeyRecord>(), count, &kStringKeyRecordDescriptor, "keys");
    token.endWriteChunk(target, start);
}

} // namespace

u32 readStringInterner(ByteSource& source, PODToken& token, strings::StringInterner& interner)
{
    const u32 start = expectChunk(source, token, kStringInternerChunkId);
    interner.clear();
    u64 seed = 0;
    token.readPOD(source, &seed, 1, &kU64Descriptor);
    interner.setSeed(seed);
    u32 count = 0;
    token.readPOD(source, &count, 1, &kU32Descriptor);

    // Each string takes at least four bytes in either form; a count beyond
    // that cannot be real and must not drive the loop below.
    const u64 size = source.size();
    const u64 left = source.position < size ? size - source.position : 0;
    if (count > left / 4)
        QUERN_FATAL(kInvalidChunk);

    {
        ScopedBlock text(&defaultAllocator(), kMaxInternedTextLength + 1, 1);
        for (u32 i = 0; i < count; ++i) {
            const u32 length = token.readString(source, text.as<char>(), kMaxInternedTextLength + 1);
            interner.appendEntry(text.as<char>(), length, 0);
        }
    }
    ScopedBlock records(&defaultAllocator(), u64{count} * sizeof(StringKeyRecord), alignof(StringKeyRecord));
    token.readPOD(source, records.as<StringKeyRecord>(), count, &kStringKeyRecordDescriptor);
    assignKeys(interner, records.as<StringKeyRecord>(), count);
    token.endReadChunk(source, start);
    return static_cast<u32>(source.position);
}

void writeStringInterner(ByteSink& sink, PODToken& token, const strings::StringInterner& interner)
{
    writeInterner(sink, token, interner);
}

void writeStringInterner(std::ostream& stream, PODToken& token, const strings::StringInterner& interner)
{
    writeInterner(stream, token, interner);
}

u32 StringTable::count() const { return block ? readLittleEndian32(static_cast<const u8*>(block) + 8) : 0; }

const char* StringTable::find(u64 key) const
{
    const auto* bytes = static_cast<const u8*>(block);
    for (u32 i = 0, n = count(); i < n; ++i) {
        const u8* entry = bytes + kStringTableHeaderSize + u64{i} * kStringTableEntrySize;
        if (readLittleEndian64(entry) == key)
            return reinterpret_cast<const char*>(bytes + readLittleEndian32(entry + 8));
    }
    return nullptr;
}

void StringTable::release()
{
    if (block)
        allocator->free(block);
    block = nullptr;
    allocator = nullptr;
}

void readStringTable(ByteSource& source, StringTable& table, memory::Allocator* allocator)
{
    if (!allocator)
        allocator = &defaultAllocator();
    u8 header[kStringTableHeaderSize];
    source.read(header, sizeof header);
    const u32 count = readLittleEndian32(header + 8);
    const u32 totalSize = readLittleEndian32(header + 12);
    if (readLittleEndian32(header) != kStringTableMagic || readLittleEndian32(header + 4) != kStringTableVersion ||
        totalSize < kStringTableHeaderSize)
        QUERN_FATAL(kInvalidFile);
    // The checks come before the allocation: a hostile size must not reserve memory.
    const u64 rest = totalSize - kStringTableHeaderSize;
    if (rest > source.size() - source.position || u64{count} * kStringTableEntrySize > rest)
        QUERN_FATAL(kInvalidFile);

    ScopedBlock block(allocator, totalSize, 8);
    u8* bytes = block.as<u8>();
    std::memcpy(bytes, header, sizeof header);
    if (rest != 0)
        source.read(bytes + kStringTableHeaderSize, rest);
    // Every text must start inside the file and end at a zero byte inside it:
    // a final zero byte ends every text that starts in the file.
    for (u32 i = 0; i < count; ++i) {
        const u32 offset = readLittleEndian32(bytes + kStringTableHeaderSize + u64{i} * kStringTableEntrySize + 8);
        if (offset >= totalSize)
            QUERN_FATAL(kInvalidFile);
    }
    if (count != 0 && bytes[totalSize - 1] != 0)
        QUERN_FATAL(kInvalidFile);

    void* loaded = block.release();
    if (table.block && table.block != loaded)
        table.allocator->free(table.block);
    table.block = loaded;
    table.allocator = allocator;
}

void writeStringTable(ByteSink& sink, const u64* keys, const char* const* texts, u32 count)
{
    u64 total = kStringTableHeaderSize + u64{count} * kStringTableEntrySize;
    for (u32 i = 0; i < count; ++i)
        total += std::strlen(texts[i]) + 1;
    if (total > 0xFFFFFFFFull)
        QUERN_FATAL("String table file too large");

    u8 header[kStringTableHeaderSize] = {};
    storeU32(header, kStringTableMagic);
    storeU32(header + 4, kStringTableVersion);
    storeU32(header + 8, count);
    storeU32(header + 12, static_cast<u32>(total));
    sink.write(header, sizeof header);

    u64 offset = kStringTableHeaderSize + u64{count} * kStringTableEntrySize;
    for (u32 i = 0; i < count; ++i) {
        u8 entry[kStringTableEntrySize] = {};
        storeU64(entry, keys[i]);
        storeU32(entry + 8, static_cast<u32>(offset));
        sink.write(entry, sizeof entry);
        offset += std::strlen(texts[i]) + 1;
    }
    for (u32 i = 0; i < count; ++i)
        sink.write(texts[i], std::strlen(texts[i]) + 1);
}

} // namespace quern::serialize
