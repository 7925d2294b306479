#pragma once
// The depot over the blob files named by "assets.index": each entry is a
// stretch of one blob file, served as stored (compressed or not). Blob files
// are opened once, on the first entry that needs them, and shared by all the
// entries they hold until the depot goes away.

#include "quern/assets/Depot.h"
#include "quern/containers/Array.h"
#include "quern/containers/HandleTable.h"
#include "quern/debug/MutexImpl.h"

#include <cstdio>

namespace quern::assets {

// One 56-byte entry of "assets.index", as read field by field.
struct BlobIndexEntry {
    u64 assetId;
    u64 offset;     // of the stored bytes in the blob file
    u64 storedSize; // in the blob file
    u64 assetSize;  // after decompression
    u64 blobId;     // packed name of the blob file; 0 = "misc"
    u64 reserved;
    u32 compressionTag; // four characters in memory order, "LZHM" for LZHAM
    u32 reserved2;
};

class BlobFileDepot : public Depot {
public:
    static constexpr u32 kIndexMagic = 0x786f6c62; // "blox"
    static constexpr u32 kIndexVersion = 2;
    static constexpr u64 kIndexHeaderSize = 12;
    static constexpr u64 kIndexEntrySize = 56;
    static constexpr u64 kMaxDirectoryLength = 254;

    BlobFileDepot();
    // Closes every blob file; a failing close is fatal "fclose failed".
    ~BlobFileDepot() override;
    BlobFileDepot(const BlobFileDepot&) = delete;
    BlobFileDepot& operator=(const BlobFileDepot&) = delete;

    // Reads "<directory>/assets.index"; any fault is fatal "Invalid asset blob index".
    void openIndex(const char* directory);

    // Fatal "Asset not found" for an id the index does not hold.
    u32 open(u64 assetId) override;
    void close(u32 handle) override;
    u64 read(u32 handle, u64 count, void* destination) override;
    // The stored size.
    u64 size(u32 handle) override;
    void seek(u32 handle, u64 position) override;

    // The index entry of the asset (the first one in index order), or null.
    const BlobIndexEntry* findEntry(u64 assetId) const;
    // The entry an open handle reads.
    const BlobIndexEntry& entryOf(u32 handle);
    u64 entryCount() const { return m_index.count(); }
    const BlobIndexEntry& entryAt(u64 i) const { return m_index.at<BlobIndexEntry>(i); }

    // Blob files opened so far, and the entries open in one of them.
    u64 blobFileCount();
    i32 openEntryCount(u64 blobId);

    // The file name of a blob: "misc.blob" for id 0, else its name with ".blob".
    static void blobFileName(u64 blobId, char* buffer, u64 bufferSize);

private:
    struct OpenEntry {
        u64 offset;
        u64 storedSize;
        u64 position;
        u64 slot;
        u64 indexPosition;
    };
    struct BlobSlot {
        u64 blobId;
        FILE* file;
        u64 filePosition; // where the file stands, so sequential reads skip the seek
        i32 openCount;
    };
    // An id with the index position of its first entry, sorted for lookups.
    struct IdPosition {
        u64 assetId;
        u64 position;
    };

    OpenEntry& openEntry(u32 handle);
    u64 slotFor(u64 blobId);
    void buildLookup();

    containers::HandleTable m_entries;
    containers::Array m_index;
    containers::Array m_lookup;
    // Grows as needed: an index may name any number of blob files.
    containers::Array m_slots;
    char m_directory[kMaxDirectoryLength + 1] = {};
    debug::MutexImpl m_mutex;
};

} // namespace quern::assets
