#include "quern/io/FileUtility.h"

#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdint>

namespace quern::io {

const char* fileModeString(FileMode mode)
{
    switch (mode) {
    case FileMode::Read: return "rb";
    case FileMode::Write: return "wb";
    case FileMode::Append: return "ab";
    case FileMode::ReadText: return "r";
    case FileMode::WriteText: return "w";
    case FileMode::AppendText: return "a";
    }
    QUERN_FATAL_INVALID_ENUM("FileMode");
}

FILE* openFile(const char* path, FileMode mode)
{
    const char* modeString = fileModeString(mode);
    FILE* file = std::fopen(path, modeString);
    if (!file) {
        std::perror("fopen");
        QUERN_RAISE(FileNotFoundException, "File not found", path);
    }
    return file;
}

void closeFile(FILE* file)
{
    if (std::fclose(file) != 0) {
        std::perror("fclose");
        QUERN_RAISE(FileReadException);
    }
}

void seekFile(FILE* file, u64 position, const char* name)
{
    if (position > static_cast<u64>(INT64_MAX) || fseeko(file, static_cast<off_t>(position), SEEK_SET) != 0) {
        std::perror(name);
        QUERN_FATAL("fseek failed");
    }
}

FILE* openFileUtf8(const char* path, const char* mode)
{
    // Paths are UTF-8 already and go to the OS unchanged.
    return std::fopen(path, mode);
}

} // namespace quern::io
