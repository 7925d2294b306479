#include "quern/assets/FileSystemDepot.h"

#include "quern/io/FilePath.h"
#include "quern/io/FileUtility.h"
#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FileSystem.h"

#include <cstring>

namespace quern::assets {

FileSystemDepot::FileSystemDepot(const char* root) : m_entries(sizeof(Entry), alignof(Entry))
{
    std::strncpy(m_root, root ? root : "", kMaxRootLength);
}

FileSystemDepot::~FileSystemDepot()
{
    // Entries left open by their users still own a file.
    for (u64 i = 0; i < m_entries.slotCount(); ++i)
        if (m_entries.generationAt(i) != 0)
            io::closeFile(static_cast<Entry*>(m_entries.entryAt(i))->file);
}

void FileSystemDepot::relativePath(u64 assetId, char* buffer)
{
    static const char kDigits[] = "0123456789abcdef";
    u64 out = 0;
    for (int i = 15; i >= 0; --i) {
        buffer[out++] = kDigits[(assetId >> (i * 4)) & 0xf];
        if (i == 14)
            buffer[out++] = '/';
    }
    buffer[out] = 0;
}

u32 FileSystemDepot::open(u64 assetId)
{
    char relative[18];
    relativePath(assetId, relative);
    io::FilePath path(m_root);
    path.append(relative);

    u64 fileSize = 0;
    const platform::FileStatus status = platform::getFileSize(path.c_str(), fileSize);
    // A directory where the asset's file should be is no asset either.
    if (status == platform::FileStatus::NotFound || status == platform::FileStatus::IsDirectory)
        QUERN_RAISE(FileNotFoundException, "File not found", path.c_str());
    FILE* file = io::openFile(path.c_str(), io::FileMode::Read);

    debug::MutexLock lock(m_mutex);
    u32 handle = 0;
    Entry* entry = m_entries.allocate<Entry>(handle);
    entry->file = file;
    entry->size = fileSize;
    return handle;
}

FileSystemDepot::Entry& FileSystemDepot::entry(u32 handle)
{
    Entry* found = m_entries.lookup<Entry>(handle);
    if (!found)
        QUERN_FATAL("Invalid depot handle");
    return *found;
}

void FileSystemDepot::close(u32 handle)
{
    debug::MutexLock lock(m_mutex);
    FILE* file = entry(handle).file;
    m_entries.release(handle);
    io::closeFile(file);
}

u64 FileSystemDepot::read(u32 handle, u64 count, void* destination)
{
    if (count == 0)
        return 0;
    // Only the lookup needs the lock; one handle is read by one thread at a
    // time, so loaders reading different assets do not wait for each other.
    FILE* file;
    {
        debug::MutexLock lock(m_mutex);
        file = entry(handle).file;
    }
    return std::fread(destination, 1, count, file);
}

u64 FileSystemDepot::size(u32 handle)
{
    // The lookup needs the lock: another thread's open may move the table.
    debug::MutexLock lock(m_mutex);
    return entry(handle).size;
}

void FileSystemDepot::seek(u32 handle, u64 position)
{
    FILE* file;
    {
        debug::MutexLock lock(m_mutex);
        file = entry(handle).file;
    }
    io::seekFile(file, position, "fseek");
}

} // namespace quern::assets
