#pragma once
// Raw little-endian values on standard streams (the target is little-endian, so
// the memory image is the stored form). A failed stream is fatal.

#include "quern/language/Exception.h"

#include <istream>
#include <ostream>
#include <type_traits>

namespace quern::io {

template <typename T> T readValue(std::istream& stream)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    stream.read(reinterpret_cast<char*>(&value), sizeof value);
    if (stream.fail() || stream.bad())
        QUERN_RAISE(FileReadException);
    return value;
}

template <typename T> void writeValue(std::ostream& stream, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    stream.write(reinterpret_cast<const char*>(&value), sizeof value);
    if (stream.fail() || stream.bad())
        QUERN_RAISE(IOException, "Error writing to file", nullptr);
}

} // namespace quern::io
