#include "quern/settings/IniParser.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::settings {
namespace {

bool isBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }
bool isLineBreak(char c) { return c >= 10 && c <= 13; }
bool isCommentMark(char c) { return c == '#' || c == ';'; }

// Inside a line a '#' or ';' starts a comment only after a blank, so values
// such as "a;b" or "C#" survive being written out and read back.
bool startsTrailingComment(const char* p) { return isCommentMark(*p) && isBlank(p[-1]); }

// Steps past one line end; two line-break characters in a row are one line end (CR LF).
char* skipLineEnd(char* p)
{
    if (isLineBreak(*p)) {
        ++p;
        if (isLineBreak(*p))
            ++p;
    }
    return p;
}

char* skipRestOfLine(char* p)
{
    while (*p != '\0' && !isLineBreak(*p))
        ++p;
    return skipLineEnd(p);
}

// Blanks, empty lines and whole-line comments.
char* skipToContent(char* p)
{
    for (;;) {
        while (isBlank(*p))
            ++p;
        if (!isCommentMark(*p))
            return p;
        p = skipRestOfLine(p);
    }
}

char* trimBlanksBefore(char* begin, char* end)
{
    while (end > begin && isBlank(end[-1]))
        --end;
    return end;
}

struct Entry {
    char* key;
    char* value; // null when the line has no separator
    char* next; // where the scan goes on
};

// Reads the entry line starting at `p` (its first non-blank character),
// terminating key and value in place. A trailing comment never reaches the
// value (the blanks before its mark are dropped) and never becomes an entry of
// its own.
Entry readEntry(char* p)
{
    Entry entry { p, nullptr, nullptr };
    char* q = p;
    while (*q != '\0' && !isLineBreak(*q) && *q != '=' && *q != ':' && !startsTrailingComment(q))
        ++q;
    char* keyEnd = trimBlanksBefore(p, q);

    if (*q != '=' && *q != ':') {
        // A key alone on its line: handed over without a value rather than joined
        // with the following line.
        entry.next = isCommentMark(*q) ? skipRestOfLine(q) : skipLineEnd(q);
        *keyEnd = '\0';
        return entry;
    }

    char* value = q + 1;
    while (*value == ' ' || *value == '\t' || *value == '=' || *value == ':')
        ++value;
    char* valueEnd = value;
    while (*valueEnd != '\0' && !isLineBreak(*valueEnd) && !startsTrailingComment(valueEnd))
        ++valueEnd;
    if (isCommentMark(*valueEnd)) {
        entry.next = skipRestOfLine(valueEnd);
        valueEnd = trimBlanksBefore(value, valueEnd);
    } else {
        entry.next = skipLineEnd(valueEnd);
    }
    *keyEnd = '\0';
    *valueEnd = '\0';
    entry.value = value;
    return entry;
}

i32 scan(char* text, IniEntryCallback onEntry, void* context)
{
    const char* section = "";
    i32 result = 0;
    char* p = text;
    for (;;) {
        p = skipToContent(p);
        if (*p == '\0')
            return result;

        if (*p == '[') {
            char* close = std::strchr(p + 1, ']');
            if (!close)
                return result;
            *close = '\0';
            section = p + 1;
            p = skipRestOfLine(close + 1);
            continue;
        }

        const Entry entry = readEntry(p);
        const i32 entryResult = onEntry(context, section, entry.key, entry.value);
        if (result == 0)
            result = entryResult;
        p = entry.next;
    }
}

} // namespace

i32 parseIniText(const char* text, const char* end, IniEntryCallback onEntry, void* context)
{
    if (!text)
        return 0;
    const u64 length = end ? static_cast<u64>(end - text) : std::strlen(text);

    memory::Allocator* allocator = memory::getDefaultAllocator();
    char* copy = static_cast<char*>(allocator->allocate(length + 1, 4));
    if (!copy)
        QUERN_OUT_OF_MEMORY();
    std::memcpy(copy, text, length);
    copy[length] = '\0';

    const i32 result = scan(copy, onEntry, context);
    allocator->free(copy);
    return result;
}

} // namespace quern::settings
