#pragma once
// Embedded GLSL program texts: the first line, "//<8 hex digits> <stage>",
// states the length of the body that follows it.

#include "quern/Types.h"

namespace quern::graphics {

// A program text with its first line made from the body at compile time, so
// the stated length can never disagree with the text.
template <u64 N> struct GlslText {
    static constexpr u64 kHeaderLength = 13; // "//" 8 digits ' ' stage '\n'
    static constexpr u64 kLength = kHeaderLength + N - 1;
    char text[kLength + 1];

    consteval GlslText(char stage, const char (&body)[N])
        : text {}
    {
        const u64 bodyLength = N - 1;
        text[0] = '/';
        text[1] = '/';
        for (u64 i = 0; i < 8; ++i) {
            const u64 digit = (bodyLength >> ((7 - i) * 4)) & 0xf;
            text[2 + i] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        }
        text[10] = ' ';
        text[11] = stage;
        text[12] = '\n';
        for (u64 i = 0; i < bodyLength; ++i)
            text[kHeaderLength + i] = body[i];
        text[kLength] = 0;
    }
};

} // namespace quern::graphics
