#include "quern/serialize/TextNumbers.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace quern::serialize {
namespace {

bool parseMagnitude(const char* begin, const char* end, int base, u64& value)
{
    if (begin == end)
        return false;
    const auto result = std::from_chars(begin, end, value, base);
    return result.ec == std::errc() && result.ptr == end;
}

template <typename T> T convertOutOfRange(const char* text, u64 length);

template <> f32 convertOutOfRange<f32>(const char* text, u64 length)
{
    char copy[kMaxNumberLength + 1];
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return std::strtof(copy, nullptr);
}

template <> f64 convertOutOfRange<f64>(const char* text, u64 length)
{
    char copy[kMaxNumberLength + 1];
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return std::strtod(copy, nullptr);
}

template <typename T> bool parseFloatAs(const char* text, u64 length, T& value)
{
    if (length == 0 || length > kMaxNumberLength)
        return false;
    const char* begin = text;
    const char* end = text + length;
    if (*begin == '+' && length > 1 && begin[1] != '-' && begin[1] != '+')
        ++begin;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ptr != end)
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        value = convertOutOfRange<T>(text, length);
        return true;
    }
    return result.ec == std::errc();
}

template <typename T> u64 formatFloatAs(T value, int precision, char* out)
{
    const auto result = std::to_chars(out, out + kNumberTextCapacity, value, std::chars_format::general, precision);
    return static_cast<u64>(result.ptr - out);
}

} // namespace

bool parseUnsigned(const char* text, u64 length, u64 maximum, u64& value)
{
    const char* begin = text;
    const char* end = text + length;
    if (begin != end && *begin == '+')
        ++begin;
    return parseMagnitude(begin, end, 10, value) && value <= maximum;
}

bool parseSigned(const char* text, u64 length, u32 bits, bool prefixed, i64& value)
{
    const char* begin = text;
    const char* end = text + length;
    bool negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    int base = 10;
    if (prefixed && end - begin >= 2 && begin[0] == '0') {
        if (begin[1] == 'x' || begin[1] == 'X') {
            base = 16;
            begin += 2;
        } else {
            base = 8;
            begin += 1;
        }
    }
    u64 magnitude = 0;
    if (!parseMagnitude(begin, end, base, magnitude))
        return false;
    const u64 limit = u64{1} << (bits - 1); // the magnitude of the most negative value
    if (negative) {
        if (magnitude > limit)
            return false;
        value = magnitude == limit ? static_cast<i64>(~(limit - 1)) : -static_cast<i64>(magnitude);
        return true;
    }
    if (magnitude > limit - 1)
        return false;
    value = static_cast<i64>(magnitude);
    return true;
}

bool parseFloat(const char* text, u64 length, f32& value) { return parseFloatAs(text, length, value); }
bool parseFloat(const char* text, u64 length, f64& value) { return parseFloatAs(text, length, value); }

u64 formatUnsigned(u64 value, char* out)
{
    return static_cast<u64>(std::to_chars(out, out + kNumberTextCapacity, value).ptr - out);
}

u64 formatSigned(i64 value, char* out)
{
    return static_cast<u64>(std::to_chars(out, out + kNumberTextCapacity, value).ptr - out);
}

u64 formatFloat(f32 value, char* out) { return formatFloatAs(value, 9, out); }
u64 formatFloat(f64 value, char* out) { return formatFloatAs(value, 17, out); }

} // namespace quern::serialize
