#pragma once
// Where asset bytes come from: entries are opened by 64-bit asset id and read
// through 32-bit handles. Depots are shared by the main thread and the loading
// workers; one handle is read by one thread at a time.

#include "quern/Types.h"

namespace quern::assets {

class Depot {
public:
    virtual ~Depot() = default;

    // A handle to the asset's bytes, positioned at 0 (never 0 itself).
    virtual u32 open(u64 assetId) = 0;
    virtual void close(u32 handle) = 0;
    // Up to `count` bytes from the current position; fewer at the end of the
    // entry, 0 once the position is at or past it.
    virtual u64 read(u32 handle, u64 count, void* destination) = 0;
    // The asset's size in bytes.
    virtual u64 size(u32 handle) = 0;
    // Sets the position from the start of the entry.
    virtual void seek(u32 handle, u64 position) = 0;
};

} // namespace quern::assets
