#pragma once
// Thin file operations over the C library's FILE streams. Paths are UTF-8 with '/'
// separators. Large files are positioned with 64-bit offsets.

#include "quern/Types.h"

#include <cstdio>

namespace quern::io {

// Bits: 1 write, 2 append (with write), 4 text mode.
enum class FileMode : i32 {
    Read = 0,       // "rb"
    Write = 1,      // "wb"
    Append = 3,     // "ab"
    ReadText = 4,   // "r"
    WriteText = 5,  // "w"
    AppendText = 7, // "a"
};

// The C library's mode string; any other value is fatal.
const char* fileModeString(FileMode mode);

// Opens or ends in the fatal path with "File not found" and the path.
FILE* openFile(const char* path, FileMode mode);

// Closes or ends in the fatal path ("Error reading from file").
void closeFile(FILE* file);

// Moves to `position` bytes from the start, or ends in the fatal path ("fseek failed");
// `name` labels the C library's error text.
void seekFile(FILE* file, u64 position, const char* name);

// The open for callers that turn failure into a result code: null when it fails.
FILE* openFileUtf8(const char* path, const char* mode);

} // namespace quern::io
