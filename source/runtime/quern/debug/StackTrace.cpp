#include "quern/debug/StackTrace.h"

#include <cstring>
#include <iostream>

namespace quern::debug {

void copyToField(char* field, u64 fieldSize, const char* text)
{
    if (fieldSize == 0)
        return;
    u64 length = 0;
    if (text)
        while (length + 1 < fieldSize && text[length] != '\0')
            ++length;
    if (length)
        std::memcpy(field, text, length);
    field[length] = '\0';
}

namespace {

// Index of the '(' that opens the trailing parameter list, or -1. A closing
// bracket after the last ')' (as in "f()::<lambda(int)>") means there is none.
i64 findParameterList(const char* text, i64 length)
{
    i64 end = length - 1;
    while (end >= 0 && text[end] != ')') {
        if (text[end] == '>' || text[end] == '}')
            return -1;
        --end;
    }
    i32 depth = 0;
    for (i64 i = end; i >= 0; --i) {
        if (text[i] == ')')
            ++depth;
        else if (text[i] == '(' && --depth == 0)
            return std::strncmp(text + i, "(anonymous namespace)", 21) == 0 ? -1 : i;
    }
    return -1;
}

// Length without a trailing template-argument note (" [with T = int]").
i64 withoutTemplateNote(const char* text, i64 length)
{
    const char* note = std::strstr(text, " [with ");
    return note && text[length - 1] == ']' ? note - text : length;
}

// Start of the name after a return type: just past the last blank outside
// brackets. "operator" names keep their blanks.
i64 findNameStart(const char* text, i64 length)
{
    i32 depth = 0;
    i64 start = 0;
    for (i64 i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '<' || c == '(' || c == '[' || c == '{')
            ++depth;
        else if ((c == '>' || c == ')' || c == ']' || c == '}') && depth > 0)
            --depth;
        else if (c == ' ' && depth == 0) {
            if (i >= 8 && std::strncmp(text + i - 8, "operator", 8) == 0)
                continue;
            start = i + 1;
        }
    }
    return start;
}

} // namespace

void qualifiedFunctionName(const char* signature, char* out, u64 outSize)
{
    if (!signature) {
        copyToField(out, outSize, "");
        return;
    }
    i64 length = withoutTemplateNote(signature, static_cast<i64>(std::strlen(signature)));
    const i64 parameters = findParameterList(signature, length);
    if (parameters > 0)
        length = parameters;
    const i64 start = findNameStart(signature, length);
    if (outSize == 0)
        return;
    // Copies the name, leaving out ABI tags ("[abi:cxx11]").
    u64 kept = 0;
    for (i64 i = start; i < length && kept + 1 < outSize; ++i) {
        if (signature[i] == '[' && std::strncmp(signature + i, "[abi:", 5) == 0) {
            const char* close = std::strchr(signature + i, ']');
            if (close && close - signature < length) {
                i = close - signature;
                continue;
            }
        }
        out[kept++] = signature[i];
    }
    out[kept] = '\0';
}

u64 StackTrace::capture(const char* function, const char* file, i32 line)
{
    StackFrame& site = frames[0];
    site.address = 0;
    site.line = line;
    copyToField(site.function, sizeof site.function, function);
    copyToField(site.file, sizeof site.file, file);
    count = captureStackTrace(frames + 1, kMaxFrames - 1, 1) + 1;
    return count;
}

std::ostream& operator<<(std::ostream& out, const StackFrame& frame)
{
    if (frame.address != 0)
        out << reinterpret_cast<const void*>(static_cast<uintptr_t>(frame.address)) << ": ";
    if (frame.function[0] != '\0')
        out << frame.function;
    if (frame.file[0] != '\0') {
        out << " (" << frame.file;
        if (frame.line > 0)
            out << ", line " << frame.line;
        out << ')';
    }
    return out;
}

namespace {

// Prints the stack above `skip` frames of this helper's callers; kept out of
// line so the frame counts hold whatever the optimiser does.
__attribute__((noinline)) void printCurrentStack(std::ostream& out, i32 skip)
{
    StackFrame frames[StackTrace::kMaxFrames];
    const u64 count = captureStackTrace(frames, StackTrace::kMaxFrames, skip + 1);
    if (count == 0)
        return;
    for (u64 i = 0; i < count; ++i)
        out << frames[i] << '\n';
    out.flush();
}

} // namespace

__attribute__((noinline)) void printStackTrace(std::ostream& out)
{
    printCurrentStack(out, 1);
    asm volatile("" ::: "memory"); // no tail call: this frame is counted
}

__attribute__((noinline)) void printStackTrace()
{
    printCurrentStack(std::cout, 1);
    asm volatile("" ::: "memory");
}

} // namespace quern::debug
