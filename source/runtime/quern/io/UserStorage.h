#pragma once
// User files (settings, savegames, logs, replays) in the user directory, answered
// with result records instead of failures.

#include "quern/Types.h"

namespace quern::io {

enum class UserStorageError : i32 {
    NoError = 0,
    PathNotFound = 1,
    FileNotWritable = 2,
    FileSystemUnavailable = 3,
    ReadError = 4,
    WriteError = 5,
    OutOfSpace = 6,
    UnknownError = 7,
};

// 0 none (immediate results), else the operation a completion answers.
enum class UserStorageOperation : i32 {
    None = 0,
    FileSize = 1,
    Remove = 2,
    Read = 3,
    Write = 4,
};

// "No error", "Path not found", ...; "Unknown error" for values outside the table.
const char* userStorageMessage(UserStorageError code);

struct UserStorageResult {
    u64 value = 0;                  // the file size, or the bytes read or written
    const char* message = "No error";
    const char* name = nullptr;     // completions: the request's file name
    UserStorageError code = UserStorageError::NoError;
    UserStorageOperation operation = UserStorageOperation::None;
};

UserStorageResult makeUserStorageResult(u64 value, UserStorageError code);

// Receives the outcome of an asynchronous request, on the storage worker thread.
class UserStorageListener {
public:
    virtual ~UserStorageListener() = default;
    virtual void onUserStorageComplete(const UserStorageResult& result) = 0;
};

class UserStorage {
public:
    virtual ~UserStorage() = default;
    virtual UserStorageResult fileSize(const char* name, UserStorageListener* listener) = 0;
    virtual UserStorageResult read(const char* name, void* buffer, u64 size, UserStorageListener* listener) = 0;
    virtual UserStorageResult write(const char* name, const void* data, u64 size, i32 flag,
                                    UserStorageListener* listener) = 0;
    virtual UserStorageResult remove(const char* name, UserStorageListener* listener) = 0;
};

} // namespace quern::io
