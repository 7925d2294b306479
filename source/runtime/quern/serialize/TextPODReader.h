#pragma once
// The reading half of the text POD form, written once over either character
// input (TextInput.h). Reading is positional: names are passed over, never
// compared.

#include "quern/Types.h"
#include "quern/language/Exception.h"
#include "quern/serialize/PODElements.h"
#include "quern/serialize/TextNumbers.h"
#include "quern/strings/PackedName.h"

#include <cstring>

namespace quern::serialize {

[[noreturn]] void raiseParseError();

inline bool isTextSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Ends a number word: white space, the form's punctuation, or the end.
inline bool endsNumber(int c)
{
    return c < 0 || isTextSpace(c) || c == ',' || c == '"' || c == ':' || c == '{' || c == '}';
}

template <typename Input> u64 readNumberWord(Input& input, char (&word)[kMaxNumberLength + 1])
{
    int c = input.peek();
    while (c >= 0 && isTextSpace(c)) {
        input.skip();
        c = input.peek();
    }
    u64 length = 0;
    while (!endsNumber(c)) {
        if (length == kMaxNumberLength)
            raiseParseError();
        word[length++] = static_cast<char>(c);
        input.skip();
        c = input.peek();
    }
    word[length] = 0;
    return length;
}

template <typename Input> void readElement(Input& input, PODKind kind, u32 bits, u8* place)
{
    char word[kMaxNumberLength + 1];
    const u64 length = readNumberWord(input, word);
    bool parsed = false;
    if (kind == PODKind::Float) {
        if (bits == 32) {
            f32 value = 0;
            parsed = parseFloat(word, length, value);
            std::memcpy(place, &value, sizeof value);
        } else {
            f64 value = 0;
            parsed = parseFloat(word, length, value);
            std::memcpy(place, &value, sizeof value);
        }
    } else if (kind == PODKind::Unsigned) {
        u64 value = 0;
        parsed = parseUnsigned(word, length, bits == 64 ? ~u64{0} : (u64{1} << bits) - 1, value);
        std::memcpy(place, &value, bits / 8); // the low bytes of a little-endian value
    } else {
        i64 value = 0;
        parsed = parseSigned(word, length, bits, Input::kPrefixedSignedNumbers, value);
        std::memcpy(place, &value, bits / 8);
    }
    if (!parsed)
        raiseParseError();
}

template <typename Input> void readRecordsText(Input& input, void* data, u64 count, const PODTypeDescriptor& descriptor)
{
    if (count == 0)
        return;
    input.passTo('"');
    input.passTo('"');
    input.passTo(':');
    auto* bytes = static_cast<u8*>(data);
    forEachTextElement(count, descriptor, [&](PODKind kind, u32 bits, u64 offset, bool) {
        readElement(input, kind, bits, bytes + offset);
    });
    input.passTo(',');
}

// Passes a line end (CR, LF, CR LF) or a zero byte that `c` starts; true when it was one.
template <typename Input> bool passLineEnd(Input& input, int c)
{
    if (c == 0 || c == '\n')
        return true;
    if (c != '\r')
        return false;
    if (input.peek() == '\n')
        input.skip();
    return true;
}

// Reads the value text up to its closing quote (or the line end) into the
// buffer, keeping at most capacity - 1 characters; returns the number kept.
template <typename Input> u64 readQuotedText(Input& input, char* buffer, u64 capacity, bool overlongIsFatal)
{
    u64 kept = 0;
    for (int c = input.get(); c >= 0 && c != '"' && !passLineEnd(input, c); c = input.get()) {
        if (kept + 1 < capacity)
            buffer[kept++] = static_cast<char>(c);
        else if (overlongIsFatal && buffer)
            raiseParseError();
    }
    if (buffer)
        buffer[kept] = 0;
    return kept;
}

template <typename Input> u32 readStringText(Input& input, char* buffer, u64 capacity)
{
    if (capacity == 0)
        buffer = nullptr;
    // A string item that is not there is a damaged file, not an empty string.
    if (!input.passTo('"') || !input.passTo('"') || !input.passTo(':') || !input.passTo('"'))
        raiseParseError();
    const u64 kept = readQuotedText(input, buffer, buffer ? capacity : 0, Input::kOverlongStringIsFatal);
    input.passTo(',');
    return static_cast<u32>(kept);
}

template <typename Input> void beginChunkText(Input& input, u64* id)
{
    for (int c = input.get(); c >= 0; c = input.get()) {
        if (c == '{') {
            *id = 0;
            return;
        }
        if (c != '"')
            continue;
        // A name of more than 12 characters is no packed name: it must not pass
        // for the name its first 12 characters make.
        char name[16];
        const u64 length = readQuotedText(input, name, sizeof name, false);
        input.passTo('{');
        *id = length > 12 ? kInvalidPackedName : packName(name);
        return;
    }
}

// Passes the rest of a chunk, nested chunks included. Braces inside quoted
// names and strings do not count: a string may hold them.
template <typename Input> void endChunkText(Input& input)
{
    u32 depth = 1;
    for (int c = input.get(); c >= 0; c = input.get()) {
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0)
                return;
        } else if (c == '"') {
            readQuotedText(input, nullptr, 0, false);
        }
    }
}

} // namespace quern::serialize
