#include "quern/io/UserStorage.h"

namespace quern::io {

const char* userStorageMessage(UserStorageError code)
{
    switch (code) {
    case UserStorageError::NoError: return "No error";
    case UserStorageError::PathNotFound: return "Path not found";
    case UserStorageError::FileNotWritable: return "File not writable";
    case UserStorageError::FileSystemUnavailable: return "File system currently unavailable";
    case UserStorageError::ReadError: return "Read error";
    case UserStorageError::WriteError: return "Write error";
    case UserStorageError::OutOfSpace: return "Out of space";
    case UserStorageError::UnknownError: return "Unknown error";
    }
    return "Unknown error";
}

UserStorageResult makeUserStorageResult(u64 value, UserStorageError code)
{
    UserStorageResult result;
    result.value = value;
    result.code = code;
    result.message = userStorageMessage(code);
    return result;
}

} // namespace quern::io
