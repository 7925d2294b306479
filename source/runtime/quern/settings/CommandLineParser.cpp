#include "quern/settings/CommandLineParser.h"

#include <cstring>

namespace quern::settings {

i32 parseKeyValue(const char* text, CommandLineCallback onOption, void* context)
{
    // '=' is a single byte that never occurs inside a multi-byte UTF-8 sequence, so the
    // first '=' byte is the separator whatever the rest of the text holds.
    const char* separator = std::strchr(text, '=');
    if (!separator)
        return onOption(context, text, nullptr);

    const size_t keyLength = static_cast<size_t>(separator - text);
    if (keyLength >= kMaxOptionKeyBytes)
        return 1;
    char key[kMaxOptionKeyBytes];
    std::memcpy(key, text, keyLength);
    key[keyLength] = '\0';
    return onOption(context, key, separator + 1);
}

i32 parseCommandLine(i32 count, char** arguments, CommandLineCallback onOption, void* context)
{
    i32 result = 0;
    for (i32 i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        if (!argument || argument[0] != '-' || argument[1] != '-')
            continue;
        if (argument[2] == '\0') {
            result = 1;
            continue;
        }
        const i32 optionResult = parseKeyValue(argument + 2, onOption, context);
        if (optionResult != 0)
            result = optionResult;
    }
    return result;
}

} // namespace quern::settings
