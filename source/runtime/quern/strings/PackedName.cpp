#include "quern/strings/PackedName.h"

namespace quern {
namespace {

constexpr int kNameLength = 12;

// Digit of one character: 1-26 for letters, 27-36 for digits, -1 otherwise.
int nameDigit(char c)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 1;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 1;
    if (c >= '0' && c <= '9')
        return c - '0' + 27;
    return -1;
}

char nameCharacter(u64 digit)
{
    if (digit == 0)
        return 0;
    if (digit <= 26)
        return static_cast<char>('a' + digit - 1);
    return static_cast<char>('0' + digit - 27);
}

} // namespace

u64 packName(const char* text)
{
    if (!text || text[0] == 0)
        return 0;
    if (nameDigit(text[0]) < 0 || nameDigit(text[0]) > 26)
        return kInvalidPackedName;
    u64 id = 0;
    bool ended = false;
    for (int i = 0; i < kNameLength; ++i) {
        int digit = 0;
        if (!ended && text[i] == 0)
            ended = true;
        if (!ended) {
            digit = nameDigit(text[i]);
            if (digit < 0)
                return kInvalidPackedName;
        }
        id = id * 37 + static_cast<u64>(digit);
    }
    return id;
}

void unpackNameToBuffer(u64 id, char* buffer, u64 bufferSize)
{
    for (int i = kNameLength - 1; i >= 0; --i) {
        if (static_cast<u64>(i) < bufferSize)
            buffer[i] = nameCharacter(id % 37);
        id /= 37;
    }
    if (bufferSize > kNameLength)
        buffer[kNameLength] = 0;
}

strings::String unpackName(u64 id)
{
    char buffer[16] = {};
    unpackNameToBuffer(id, buffer, sizeof buffer);
    return strings::String(buffer);
}

bool isValidPackedName(const char* text)
{
    if (!text)
        return false;
    const int first = nameDigit(text[0]);
    if (first < 1 || first > 26)
        return false;
    int length = 1;
    for (; text[length] != 0; ++length)
        if (length >= kNameLength || nameDigit(text[length]) < 0)
            return false;
    return true;
}

} // namespace quern
