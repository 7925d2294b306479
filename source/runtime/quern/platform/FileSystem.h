#pragma once
// File-system calls on UTF-8 paths with '/' separators, answered with status
// codes instead of failures; the storage layer turns the codes into messages.

#include "quern/Types.h"

#include <string>

namespace quern::platform {

enum class FileStatus : i32 {
    Success = 0,
    AlreadyExists = 1,
    NotFound = 2,
    IsDirectory = 3,
    AccessDenied = 5, // also busy files and read-only file systems
    Error = 6,
};

// The one translation from the C library's error numbers to file statuses.
FileStatus fileStatusFromErrno(int errorNumber);

// Creates the last level of the path only: AlreadyExists when it is there,
// NotFound when its parent is missing.
FileStatus createDirectory(const char* path);

// NotFound at once for a missing file; other failures are retried once after
// yielding, since a scanner or indexer may hold the file for a moment.
FileStatus deleteFile(const char* path);

// A directory gives IsDirectory and leaves `size` untouched; NotFound whenever
// the file's attributes cannot be read.
FileStatus getFileSize(const char* path, u64& size);

// Files and directories alike.
bool fileExists(const char* path);

// Writes `size` bytes to a temporary file beside `path`, flushes it to the disk
// and renames it over `path`, so a crash mid-write leaves the old file whole.
FileStatus replaceFile(const char* path, const void* data, u64 size);

// Appends the OS form of an engine path: the UTF-8 text unchanged with '\'
// turned into '/'. Conversion stops at the first malformed UTF-8 sequence.
void appendNativePath(std::string& destination, const char* path);

} // namespace quern::platform
