#pragma once
// A depot over a directory tree with one file per asset: the file of asset id
// X is "<root>/<first 2 hex digits of X>/<other 14 hex digits>", lower case.

#include "quern/assets/Depot.h"
#include "quern/containers/HandleTable.h"
#include "quern/debug/MutexImpl.h"

#include <cstdio>

namespace quern::assets {

class FileSystemDepot : public Depot {
public:
    static constexpr u64 kMaxRootLength = 254;

    // Keeps a copy of the root (cut to 254 characters).
    explicit FileSystemDepot(const char* root);
    ~FileSystemDepot() override;

    // Fatal "File not found" when the asset's file is missing or is a directory.
    u32 open(u64 assetId) override;
    void close(u32 handle) override;
    u64 read(u32 handle, u64 count, void* destination) override;
    u64 size(u32 handle) override;
    void seek(u32 handle, u64 position) override;

    const char* root() const { return m_root; }

    // "<2 digits>/<14 digits>" of the id, into a buffer of at least 18 bytes.
    static void relativePath(u64 assetId, char* buffer);

private:
    struct Entry {
        FILE* file;
        u64 size;
    };
    Entry& entry(u32 handle);

    containers::HandleTable m_entries;
    char m_root[kMaxRootLength + 1] = {};
    debug::MutexImpl m_mutex;
};

} // namespace quern::assets
