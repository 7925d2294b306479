#include "quern/settings/BoolWords.h"

#include "quern/strings/String.h"

#include <cstring>

namespace quern::settings {
namespace {

struct BoolWord {
    const char* word;
    bool value;
};

// Matched in this order.
constexpr BoolWord kBoolWords[] = {
    {"0", false},      {"1", true},         {"true", true}, {"false", false}, {"y", true},
    {"yes", true},     {"on", true},        {"enable", true}, {"enabled", true}, {"n", false},
    {"no", false},     {"off", false},      {"disable", false}, {"disabled", false},
};

bool isBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

} // namespace

bool parseBool(const char* text, bool* out)
{
    if (!text)
        return false;
    while (isBlank(*text))
        ++text;
    const char* end = text + std::strlen(text);
    while (end > text && isBlank(end[-1]))
        --end;

    // Longer than any word (in any case) cannot match; the copy only drops the blanks.
    char word[16];
    const size_t length = static_cast<size_t>(end - text);
    if (length == 0 || length >= sizeof(word))
        return false;
    std::memcpy(word, text, length);
    word[length] = '\0';

    for (const BoolWord& candidate : kBoolWords) {
        if (strings::compareNoCase(word, candidate.word) == 0) {
            *out = candidate.value;
            return true;
        }
    }
    return false;
}

} // namespace quern::settings
