#include "quern/platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quern::platform {
namespace {

// Length of the well-formed UTF-8 sequence at `text` (1 to 4), or 0 when the
// bytes there are malformed: a stray continuation byte, an overlong form, a
// surrogate, a value above U+10FFFF or a sequence cut short.
int utf8SequenceLength(const unsigned char* text)
{
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text[1] < low || text[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    return length;
}

FileStatus retriedDeleteStatus(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
        return FileStatus::Success;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
        return FileStatus::AccessDenied;
    default:
        return FileStatus::Error;
    }
}

bool writeAll(int descriptor, const unsigned char* data, u64 size)
{
    while (size != 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<u64>(written);
    }
    return true;
}

} // namespace

FileStatus fileStatusFromErrno(int errorNumber)
{
    switch (errorNumber) {
    case 0:
        return FileStatus::Success;
    case EEXIST:
        return FileStatus::AlreadyExists;
    case ENOENT:
    case ENOTDIR:
        return FileStatus::NotFound;
    case EISDIR:
        return FileStatus::IsDirectory;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EROFS:
        return FileStatus::AccessDenied;
    default:
        return FileStatus::Error;
    }
}

FileStatus createDirectory(const char* path)
{
    if (::mkdir(path, 0777) == 0)
        return FileStatus::Success;
    return fileStatusFromErrno(errno);
}

FileStatus deleteFile(const char* path)
{
    if (::unlink(path) == 0)
        return FileStatus::Success;
    if (errno == ENOENT)
        return FileStatus::NotFound;
    ::sched_yield();
    if (::unlink(path) == 0)
        return FileStatus::Success;
    return retriedDeleteStatus(errno);
}

FileStatus getFileSize(const char* path, u64& size)
{
    struct stat status { };
    if (::stat(path, &status) != 0)
        return FileStatus::NotFound;
    if (S_ISDIR(status.st_mode))
        return FileStatus::IsDirectory;
    size = static_cast<u64>(status.st_size);
    return FileStatus::Success;
}

bool fileExists(const char* path)
{
    struct stat status { };
    return ::stat(path, &status) == 0;
}

FileStatus replaceFile(const char* path, const void* data, u64 size)
{
    std::string temporary = path;
    temporary += ".tmp";
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return fileStatusFromErrno(errno);
    bool ok = writeAll(descriptor, static_cast<const unsigned char*>(data), size) && ::fsync(descriptor) == 0;
    int failure = ok ? 0 : errno;
    if (::close(descriptor) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temporary.c_str(), path) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        const FileStatus status = fileStatusFromErrno(failure);
        return status == FileStatus::Success ? FileStatus::Error : status;
    }
    return FileStatus::Success;
}

void appendNativePath(std::string& destination, const char* path)
{
    const auto* text = reinterpret_cast<const unsigned char*>(path);
    while (*text) {
        const int length = utf8SequenceLength(text);
        if (length == 0)
            return;
        if (*text == '\\')
            destination += '/';
        else
            destination.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
        text += length;
    }
}

} // namespace quern::platform
