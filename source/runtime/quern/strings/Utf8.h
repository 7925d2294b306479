#pragma once
// UTF-8 is the engine's text encoding everywhere; UTF-16 appears only at the
// edges that take it. Decoding goes through the widely used table-driven
// automaton: one class lookup and one transition lookup per byte.

#include "quern/Types.h"

namespace quern::strings {

inline constexpr u32 kUtf8Accept = 0;
inline constexpr u32 kUtf8Reject = 12;
inline constexpr u16 kReplacementCharacter = 0xFFFD;

// Character class of every byte value.
inline constexpr u8 kUtf8Classes[256] = {
    // 0x00-0x7F
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    // 0x80-0x8F, 0x90-0x9F
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    1,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    9,
    // 0xA0-0xBF
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    7,
    // 0xC0-0xC1, 0xC2-0xDF
    8,
    8,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    2,
    // 0xE0, 0xE1-0xEC, 0xED, 0xEE-0xEF, 0xF0, 0xF1-0xF3, 0xF4, 0xF5-0xFF
    10,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    3,
    4,
    3,
    3,
    11,
    6,
    6,
    6,
    5,
    8,
    8,
    8,
    8,
    8,
    8,
    8,
    8,
    8,
    8,
    8,
};

// Next state, indexed by state + class; states are multiples of 12.
inline constexpr u8 kUtf8Transitions[108] = {
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, // 0: accept
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 12: reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, // 24
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12, // 36
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, // 48
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12, // 60
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, // 72
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, // 84
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, // 96
};

// Feeds one byte to the automaton; a code point is complete when the returned
// state is kUtf8Accept.
inline u32 utf8DecodeStep(u32& state, u32& codePoint, u8 byte)
{
    const u32 type = kUtf8Classes[byte];
    codePoint = state != kUtf8Accept ? (byte & 0x3Fu) | (codePoint << 6) : (0xFFu >> type) & byte;
    state = kUtf8Transitions[state + type];
    return state;
}

// Calls visit(code point, the byte after it) for every code point of the
// zero-terminated UTF-8 text until the text ends, the text turns invalid (the
// reject state absorbs: nothing after a bad sequence counts) or `visit`
// returns false.
template <typename Visit> void forEachCodePoint(const char* text, Visit&& visit)
{
    if (!text)
        return;
    u32 state = kUtf8Accept;
    u32 codePoint = 0;
    for (const u8* byte = reinterpret_cast<const u8*>(text); *byte != 0; ++byte) {
        if (utf8DecodeStep(state, codePoint, *byte) == kUtf8Accept) {
            if (!visit(codePoint, reinterpret_cast<const char*>(byte + 1)))
                return;
        } else if (state == kUtf8Reject) {
            return;
        }
    }
}

// Converts zero-terminated UTF-16 to UTF-8; each surrogate half on its own and
// U+FFFF become U+FFFD. Writes only whole characters, always terminates the
// output (when it has room for anything) and returns the bytes written
// without the terminator.
u64 utf16ToUtf8(const u16* text, char* out, u64 outBytes);

} // namespace quern::strings
