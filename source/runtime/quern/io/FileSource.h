#pragma once
// A byte source over a file on disk.

#include "quern/io/ByteSource.h"

#include <cstdio>

namespace quern {

class FileSource : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens the file for reading at position 0; a missing file (or a directory) ends
    // in the fatal path with "File not found" and the path.
    void open(const char* path);
    bool isOpen() const { return m_file != nullptr; }

    u64 size() override { return m_size; }

protected:
    void implRead(void* destination, u64 count) override;
    void seek(u64 position) override;

private:
    FILE* m_file = nullptr;
    u64 m_size = 0;
};

} // namespace quern
