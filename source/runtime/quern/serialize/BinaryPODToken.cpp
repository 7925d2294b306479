#include "quern/serialize/BinaryPODToken.h"

#include "quern/io/BinaryIO.h"
#include "quern/io/ByteSink.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/serialize/PODElements.h"

#include <cstring>
#include <istream>
#include <limits>
#include <ostream>

namespace quern::serialize {
namespace {

u64 arrayBytes(u64 count, const PODTypeDescriptor* descriptor) { return checkedArrayBytes(count, *descriptor); }

// Streams take signed lengths.
std::streamsize streamLength(u64 length)
{
    if (length > static_cast<u64>(std::numeric_limits<std::streamsize>::max()))
        QUERN_RAISE(ParseException, "Record count too large", nullptr, 0);
    return static_cast<std::streamsize>(length);
}

u32 truncatedPosition(i64 position) { return position < 0 ? kNoChunkStart : static_cast<u32>(position); }

// Passes over `length` bytes of a source; a length that runs past its end means
// the data was cut short.
void skipBytes(ByteSource& source, u64 length)
{
    const u64 size = source.size();
    if (source.position > size || length > size - source.position)
        QUERN_RAISE(FileReadException);
    source.position += length;
}

} // namespace

void BinaryPODToken::readPOD(std::istream& stream, void* data, u64 count, const PODTypeDescriptor* descriptor)
{
    const u64 bytes = arrayBytes(count, descriptor);
    if (bytes == 0)
        return;
    stream.read(static_cast<char*>(data), streamLength(bytes));
    if (stream.fail() || stream.bad())
        QUERN_RAISE(FileReadException);
}

void BinaryPODToken::writePOD(std::ostream& stream, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                              const char*)
{
    const u64 bytes = arrayBytes(count, descriptor);
    if (bytes == 0)
        return;
    stream.write(static_cast<const char*>(data), streamLength(bytes));
    if (stream.fail() || stream.bad())
        QUERN_RAISE(IOException, "Error writing to file", nullptr);
}

u32 BinaryPODToken::readString(std::istream& stream, char* buffer, u64 capacity)
{
    const u32 length = io::readValue<u32>(stream);
    u64 kept = 0;
    if (buffer && capacity != 0) {
        kept = length < capacity ? length : capacity - 1;
        if (kept != 0)
            stream.read(buffer, static_cast<std::streamsize>(kept));
        buffer[kept] = 0;
    }
    // A string cut short by the end of the stream is a damaged file, not a shorter string.
    if (stream.fail() || stream.bad())
        QUERN_RAISE(FileReadException);
    const u64 skipped = length - kept;
    if (skipped != 0) {
        stream.ignore(static_cast<std::streamsize>(skipped));
        if (static_cast<u64>(stream.gcount()) != skipped || stream.bad())
            QUERN_RAISE(FileReadException);
    }
    return static_cast<u32>(kept);
}

void BinaryPODToken::writeString(std::ostream& stream, const char* text, const char*)
{
    const u64 length = text ? std::strlen(text) : 0;
    if (length > std::numeric_limits<u32>::max())
        QUERN_RAISE(IOException, "String too long to write", nullptr);
    io::writeValue(stream, static_cast<u32>(length));
    if (length == 0)
        return;
    stream.write(text, static_cast<std::streamsize>(length));
    if (stream.fail() || stream.bad())
        QUERN_RAISE(IOException, "Error writing to file", nullptr);
}

u32 BinaryPODToken::beginReadChunk(std::istream& stream, u64* id)
{
    const u32 start = truncatedPosition(static_cast<i64>(stream.tellg()));
    u64 value = 0;
    readPOD(stream, &value, 1, &kU64Descriptor);
    if (id)
        *id = value;
    return start;
}

void BinaryPODToken::endReadChunk(std::istream&, u32) {}

u32 BinaryPODToken::beginWriteChunk(std::ostream& stream, u64 id)
{
    const u32 start = truncatedPosition(static_cast<i64>(stream.tellp()));
    writePOD(stream, &id, 1, &kU64Descriptor, nullptr);
    return start;
}

void BinaryPODToken::endWriteChunk(std::ostream&, u32) {}

void BinaryPODToken::readPOD(ByteSource& source, void* data, u64 count, const PODTypeDescriptor* descriptor)
{
    const u64 bytes = arrayBytes(count, descriptor);
    if (bytes != 0)
        source.read(data, bytes);
}

u32 BinaryPODToken::readString(ByteSource& source, char* buffer, u64 capacity)
{
    u32 length = 0;
    source.read(&length, sizeof length);
    u64 kept = 0;
    if (buffer && capacity != 0) {
        kept = length < capacity ? length : capacity - 1;
        source.read(buffer, kept);
        buffer[kept] = 0;
    }
    skipBytes(source, length - kept);
    return static_cast<u32>(kept);
}

u32 BinaryPODToken::beginReadChunk(ByteSource& source, u64* id)
{
    const u32 start = static_cast<u32>(source.position);
    u64 value = 0;
    readPOD(source, &value, 1, &kU64Descriptor);
    if (id)
        *id = value;
    return start;
}

void BinaryPODToken::endReadChunk(ByteSource&, u32) {}

void BinaryPODToken::writePOD(ByteSink& sink, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                              const char*)
{
    const u64 bytes = arrayBytes(count, descriptor);
    if (bytes != 0)
        sink.write(data, bytes);
}

void BinaryPODToken::writeString(ByteSink& sink, const char* text, const char*)
{
    const u64 length = text ? std::strlen(text) : 0;
    if (length > std::numeric_limits<u32>::max())
        QUERN_RAISE(IOException, "String too long to write", nullptr);
    const u32 stored = static_cast<u32>(length);
    sink.write(&stored, sizeof stored);
    if (length != 0)
        sink.write(text, length);
}

u32 BinaryPODToken::beginWriteChunk(ByteSink& sink, u64 id)
{
    const u32 start = static_cast<u32>(sink.position());
    writePOD(sink, &id, 1, &kU64Descriptor, nullptr);
    return start;
}

void BinaryPODToken::endWriteChunk(ByteSink&, u32) {}

} // namespace quern::serialize
