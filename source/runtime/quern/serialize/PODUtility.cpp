#include "quern/serialize/PODUtility.h"

#include "quern/containers/Array.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODTypeDescriptor.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/Format.h"
#include "quern/strings/PackedName.h"

#include <cstring>
#include <string>

namespace quern::serialize {
namespace {

constexpr u64 kFirstDigitUnit = 177917621779460413ull; // 37^11: the weight of a name's first character

template <typename Stream> u32 expectChunkIn(Stream& stream, PODToken& token, u64 expectedId)
{
    u64 actualId = 0;
    const u32 start = token.beginReadChunk(stream, &actualId);
    if (actualId == expectedId)
        return start;
    char expected[16];
    char actual[16];
    chunkIdName(expectedId, expected);
    chunkIdName(actualId, actual);
    const std::string message = std::string("Unexpected chunk type, expected=") + expected + ", actual=" + actual;
    QUERN_RAISE(Exception, message.c_str());
}

} // namespace

void chunkIdName(u64 id, char (&name)[16])
{
    std::memset(name, 0, sizeof name);
    if (id == 0)
        return;
    if (id < kFirstDigitUnit || id / kFirstDigitUnit > 26) {
        std::strcpy(name, "<invalid>");
        return;
    }
    unpackNameToBuffer(id, name, sizeof name);
}

u32 expectChunk(ByteSource& source, PODToken& token, u64 expectedId)
{
    return expectChunkIn(source, token, expectedId);
}

u32 expectChunk(std::istream& stream, PODToken& token, u64 expectedId)
{
    return expectChunkIn(stream, token, expectedId);
}

bool isTextPODForm(u8 firstByte) { return firstByte == '{' || firstByte == '"'; }

PODToken& selectPODToken(ByteSource& source)
{
    static BinaryPODToken binary;
    static TextPODToken text;
    const u64 position = source.position;
    if (position >= source.size())
        return binary;
    u8 first = 0;
    source.read(&first, 1);
    source.position = position;
    return isTextPODForm(first) ? static_cast<PODToken&>(text) : binary;
}

void readCountedArray(ByteSource& source, PODToken& token, containers::Array& array,
                      const PODTypeDescriptor& descriptor, const char* what, const char* fileKind)
{
    u32 count = 0;
    token.readPOD(source, &count, 1, &kU32Descriptor);
    // Every record takes at least a byte in either form: a larger count is a
    // broken file, not a reason to allocate.
    const u64 left = source.size() > source.position ? source.size() - source.position : 0;
    if (count > left)
        QUERN_FATAL(strings::format<256>("Invalid %s: %u %s in %llu bytes", fileKind, count, what,
                                         static_cast<unsigned long long>(left)));
    array.clear();
    array.expand(count);
    // Skipped bytes are not read in the text form; they must not be garbage.
    if (count > 0)
        std::memset(array.data(), 0, array.usedBytes());
    token.readPOD(source, array.data(), count, &descriptor);
}

} // namespace quern::serialize
