#include "quern/io/HomeFileSystem.h"

#include "quern/debug/Log.h"
#include "quern/io/FileUtility.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FileSystem.h"
#include "quern/platform/SystemInfo.h"

#include <cstring>
#include <string>

namespace quern::io {
namespace {

strings::StringRef refOf(const char* text) { return strings::StringRef{text, std::strlen(text)}; }

UserStorageResult unexpectedError(u32 line)
{
    debug::softAssert("Unexpected error", "", __FILE__, line);
    return makeUserStorageResult(0, UserStorageError::UnknownError);
}

UserStorageError writeErrorFor(platform::FileStatus status)
{
    switch (status) {
    case platform::FileStatus::NotFound: return UserStorageError::PathNotFound;
    case platform::FileStatus::AccessDenied:
    case platform::FileStatus::IsDirectory: return UserStorageError::FileNotWritable;
    default: return UserStorageError::WriteError;
    }
}

} // namespace

void HomeFileSystem::initDefaultDirectory()
{
    setDirectory(platform::getUserDataFolder(kProductTitle).c_str());
}

void HomeFileSystem::setDirectory(const char* path)
{
    m_directory.assign(path ? path : "");
}

FilePath HomeFileSystem::makePath(const char* name, const char* directory, bool acceptExisting)
{
    if (acceptExisting && FilePath::isAbsolute(refOf(name)) && platform::fileExists(name)) {
        FilePath path;
        path.append(refOf(name));
        return path;
    }
    FilePath path;
    path.append(refOf(directory));
    path.append(refOf(name));
    return path;
}

UserStorageResult HomeFileSystem::fileSize(const char* name, UserStorageListener*)
{
    const FilePath path = makePath(name, directory(), m_acceptExistingPaths);
    u64 size = 0;
    switch (platform::getFileSize(path.c_str(), size)) {
    case platform::FileStatus::Success: return makeUserStorageResult(size, UserStorageError::NoError);
    case platform::FileStatus::NotFound: return makeUserStorageResult(0, UserStorageError::PathNotFound);
    default: return unexpectedError(__LINE__);
    }
}

UserStorageResult HomeFileSystem::read(const char* name, void* buffer, u64 size, UserStorageListener*)
{
    const FilePath path = makePath(name, directory(), m_acceptExistingPaths);
    FILE* file = openFileUtf8(path.c_str(), "rb");
    if (!file)
        return makeUserStorageResult(0, UserStorageError::PathNotFound);
    if (!m_quiet)
        QUERN_LOG(3) << "Reading user file '" << path.c_str() << "'" << std::endl;
    const u64 bytes = size != 0 ? std::fread(buffer, 1, size, file) : 0;
    std::fclose(file);
    return makeUserStorageResult(bytes, bytes == size ? UserStorageError::NoError : UserStorageError::ReadError);
}

UserStorageResult HomeFileSystem::write(const char* name, const void* data, u64 size, i32, UserStorageListener*)
{
    const FilePath path = makePath(name, directory(), false);
    if (!platform::fileExists(path.c_str())) {
        const FilePath parent = path.parent();
        if (parent.length() != 0 && !platform::fileExists(parent.c_str())) {
            if (!m_quiet)
                QUERN_LOG(3) << "Creating user directory '" << parent.c_str() << "'" << std::endl;
            switch (platform::createDirectory(parent.c_str())) {
            case platform::FileStatus::Success:
            case platform::FileStatus::AlreadyExists: break;
            case platform::FileStatus::NotFound: return makeUserStorageResult(0, UserStorageError::PathNotFound);
            default: return unexpectedError(__LINE__);
            }
        }
    }

    if (!m_quiet)
        QUERN_LOG(3) << "Writing user file '" << path.c_str() << "'" << std::endl;
    const platform::FileStatus status = platform::replaceFile(path.c_str(), data, size);
    if (status != platform::FileStatus::Success)
        return makeUserStorageResult(0, writeErrorFor(status));
    return makeUserStorageResult(size, UserStorageError::NoError);
}

UserStorageResult HomeFileSystem::remove(const char* name, UserStorageListener*)
{
    const FilePath path = makePath(name, directory(), m_acceptExistingPaths);
    switch (platform::deleteFile(path.c_str())) {
    case platform::FileStatus::Success: return makeUserStorageResult(0, UserStorageError::NoError);
    case platform::FileStatus::NotFound: return makeUserStorageResult(0, UserStorageError::PathNotFound);
    default: return unexpectedError(__LINE__);
    }
}

HomeFileSystem& getHomeFileSystem()
{
    // Never destroyed: code running at exit (the crash path, the log file) may still
    // need the user directory after static destruction has begun.
    static HomeFileSystem* const fileSystem = new HomeFileSystem();
    return *fileSystem;
}

void setUserDirectoryOverride(const char* path) { getHomeFileSystem().setDirectory(path); }

FilePath resolveUserDirectory(const char* userFilePath)
{
    const strings::StringRef text = refOf(userFilePath);
    if (FilePath::isAbsolute(text))
        return FilePath(text);
    FilePath path = FilePath::currentDirectory();
    path.append(text);
    return path;
}

} // namespace quern::io
