#include "quern/strings/ImportMO.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"
#include "quern/LittleEndian.h"

#include <algorithm>
#include <istream>

namespace quern::strings {
namespace {

struct MOHeader {
    u32 magic;
    u32 revision;
    u32 stringCount;
    u32 sourceTableOffset;
    u32 translationTableOffset;
    u32 hashTableSize;
    u32 hashTableOffset;
};

constexpr u64 kHeaderBytes = 28;
constexpr u64 kEntryBytes = 8;
// Table entries read per step, so a corrupt count meets the end of the stream
// before it can ask for a huge block.
constexpr u64 kEntriesPerRead = 1024;

void readExactly(std::istream& input, void* destination, u64 count)
{
    if (count == 0)
        return;
    input.read(static_cast<char*>(destination), static_cast<std::streamsize>(count));
    if (!input || static_cast<u64>(input.gcount()) != count)
        QUERN_FATAL("Read error");
}

void skipExactly(std::istream& input, u64 count)
{
    if (count == 0)
        return;
    input.ignore(static_cast<std::streamsize>(count));
    if (static_cast<u64>(input.gcount()) != count)
        QUERN_FATAL("Read error");
}

MOHeader readHeader(std::istream& input)
{
    u8 bytes[kHeaderBytes];
    readExactly(input, bytes, kHeaderBytes);
    MOHeader header;
    header.magic = readLittleEndian32(bytes);
    header.revision = readLittleEndian32(bytes + 4);
    header.stringCount = readLittleEndian32(bytes + 8);
    header.sourceTableOffset = readLittleEndian32(bytes + 12);
    header.translationTableOffset = readLittleEndian32(bytes + 16);
    header.hashTableSize = readLittleEndian32(bytes + 20);
    header.hashTableOffset = readLittleEndian32(bytes + 24);
    return header;
}

containers::Array readEntries(std::istream& input, u64 count)
{
    containers::Array entries(sizeof(MOEntry), alignof(MOEntry));
    u8 bytes[kEntriesPerRead * kEntryBytes];
    while (entries.count() < count) {
        const u64 step = std::min(count - entries.count(), kEntriesPerRead);
        readExactly(input, bytes, step * kEntryBytes);
        for (u64 i = 0; i < step; ++i)
            entries.append(MOEntry{readLittleEndian32(bytes + i * 8), readLittleEndian32(bytes + i * 8 + 4)});
    }
    return entries;
}

u64 internNext(std::istream& input, const MOEntry& entry, StringInterner& interner, char (&buffer)[kMOTextBufferSize])
{
    const u64 length = readMOString(input, entry, buffer);
    const u64 key = murmurHash64A(buffer, length, interner.seed());
    interner.intern(buffer, length, key);
    return key;
}

} // namespace

u64 readMOString(std::istream& input, const MOEntry& entry, char (&buffer)[kMOTextBufferSize])
{
    u64 length = entry.length;
    if (length > kMOTextBufferSize - 1) {
        debug::softAssert("String too large", "length < 8192", __FILE__, __LINE__);
        length = kMOTextBufferSize - 1;
    }
    readExactly(input, buffer, length);
    skipExactly(input, entry.length - length);
    buffer[length] = 0;
    // Every text, the empty one too, is followed by its zero byte.
    input.ignore(1);
    return length;
}

bool importMO(std::istream& input, StringInterner& interner, containers::Array& keyTable)
{
    if (keyTable.elementSize() != sizeof(TranslationKeys))
        QUERN_FATAL("Translation key table needs 16-byte elements");
    const MOHeader header = readHeader(input);
    if (header.magic != kMOMagic || header.revision != 0)
        return false;

    const u64 count = header.stringCount;
    const containers::Array sources = readEntries(input, count);
    const containers::Array translations = readEntries(input, count);
    skipExactly(input, u64{header.hashTableSize} * 4);

    const u64 first = keyTable.count();
    keyTable.reserve(first + count);
    char buffer[kMOTextBufferSize];
    for (u64 i = 0; i < count; ++i) {
        const u64 key = internNext(input, sources.at<MOEntry>(i), interner, buffer);
        keyTable.append(TranslationKeys{key, 0});
    }
    for (u64 i = 0; i < count; ++i)
        keyTable.at<TranslationKeys>(first + i).translation =
            internNext(input, translations.at<MOEntry>(i), interner, buffer);
    return true;
}

} // namespace quern::strings
