#pragma once
// The depot the game reads from when "assets.index" exists: entries of the
// blob files, with compressed ones expanded whole on their first read and
// kept in memory until they are closed.

#include "quern/assets/BlobFileDepot.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/io/Decompressor.h"
#include "quern/memory/Allocator.h"

namespace quern::assets {

class BlobDepot : public Depot {
public:
    BlobDepot();
    ~BlobDepot() override;
    BlobDepot(const BlobDepot&) = delete;
    BlobDepot& operator=(const BlobDepot&) = delete;

    // Fatal "Invalid asset blob index" when the index cannot be read.
    void openIndex(const char* directory);

    // Entries whose compression tag is the decompressor's are expanded with
    // it; others are served as stored. Set before the first open.
    void setDecompressor(io::Decompressor* decompressor) { m_decompressor = decompressor; }
    io::Decompressor* decompressor() const { return m_decompressor; }

    // Fatal "Asset not found" for an id the index does not hold, and for an
    // LZHAM entry when the depot cannot expand LZHAM.
    u32 open(u64 assetId) override;
    void close(u32 handle) override;
    // A compressed entry whose stored bytes are short, whose codec fails or
    // whose expanded size is not the asset size is fatal.
    u64 read(u32 handle, u64 count, void* destination) override;
    // The asset size (after decompression).
    u64 size(u32 handle) override;
    void seek(u32 handle, u64 position) override;

    BlobFileDepot& files() { return m_files; }
    // Entries open now.
    u64 openCount();

private:
    struct Record {
        u8* buffer; // the expanded entry, once read
        io::Decompressor* decompressor;
        u32 handle;
        u64 storedSize;
        u64 assetSize;
        u64 position;
        u64 assetId;
    };
    Record* findRecord(u32 handle);
    Record& record(u32 handle);
    u8* expand(const Record& record);

    memory::Allocator* m_allocator = nullptr;
    io::Decompressor* m_decompressor = nullptr;
    debug::MutexImpl m_mutex;
    BlobFileDepot m_files;
    containers::Array m_records;
};

} // namespace quern::assets
