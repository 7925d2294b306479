#pragma once
// Number texts of the text POD form. A number is one word: the characters up
// to white space or punctuation (, " : { }). The whole word must be the number;
// anything else, or a value outside the element's range, is a parse error.

#include "quern/Types.h"

namespace quern::serialize {

// The longest number word the reader accepts.
inline constexpr u64 kMaxNumberLength = 63;

// Decimal, an optional '+'; at most `maximum`.
bool parseUnsigned(const char* text, u64 length, u64 maximum, u64& value);
// An optional sign, then decimal digits, or with `prefixed` also 0x-hexadecimal
// and 0-octal; within the signed range of `bits`.
bool parseSigned(const char* text, u64 length, u32 bits, bool prefixed, i64& value);
// Decimal or exponent form, "inf" and "nan"; magnitudes beyond the type's
// range become infinity or zero as the C library's conversion gives them.
bool parseFloat(const char* text, u64 length, f32& value);
bool parseFloat(const char* text, u64 length, f64& value);

// Writes the shortest decimal text of an integer; returns its length (at most 20).
u64 formatUnsigned(u64 value, char* out);
u64 formatSigned(i64 value, char* out);
// "%.9g" for f32 and "%.17g" for f64: enough digits to read back bit for bit.
u64 formatFloat(f32 value, char* out);
u64 formatFloat(f64 value, char* out);
// Room formatFloat and formatSigned need.
inline constexpr u64 kNumberTextCapacity = 32;

} // namespace quern::serialize
