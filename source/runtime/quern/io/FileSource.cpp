#include "quern/io/FileSource.h"

#include "quern/io/FileUtility.h"
#include "quern/language/Exception.h"
#include "quern/platform/FileSystem.h"

#include <cstdint>

namespace quern {

FileSource::~FileSource()
{
    if (m_file)
        io::closeFile(m_file);
}

void FileSource::open(const char* path)
{
    u64 size = 0;
    if (platform::getFileSize(path, size) != platform::FileStatus::Success)
        QUERN_RAISE(FileNotFoundException, "File not found", path);
    if (m_file)
        io::closeFile(m_file);
    m_file = io::openFile(path, io::FileMode::Read);
    m_size = size;
    position = 0;
    devicePosition = 0;
}

void FileSource::implRead(void* destination, u64 count)
{
    if (count == 0)
        return;
    if (!m_file || std::fread(destination, 1, count, m_file) != count)
        QUERN_RAISE(FileReadException);
}

void FileSource::seek(u64 newPosition)
{
    // A failure shows as a short read next.
    if (m_file && newPosition <= static_cast<u64>(INT64_MAX))
        fseeko(m_file, static_cast<off_t>(newPosition), SEEK_SET);
}

} // namespace quern
