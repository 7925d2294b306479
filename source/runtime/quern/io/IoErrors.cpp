#include "quern/io/IoErrors.h"

#include "quern/platform/ErrorReporting.h"

#include <string>

namespace quern::io {

void raiseFileNotFound(const char* path, const char*, const char* file, u32 line)
{
    const std::string text = std::string("File not found ('") + path + "')";
    debug::fatalError(text.c_str(), file, line);
}

void raiseFileReadError(const char*, const char* file, u32 line)
{
    debug::fatalError("Error reading from file", file, line);
}

} // namespace quern::io
