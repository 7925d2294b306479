#include "quern/serialize/PODUtility.h"

#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"
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

} // namespace quern::serialize
