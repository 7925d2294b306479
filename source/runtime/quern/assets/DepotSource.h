#pragma once
// A byte source over one open depot entry, so POD tokens and importers can
// read assets. A short read is fatal "Read error".

#include "quern/assets/Depot.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/Allocator.h"

namespace quern::assets {

class DepotSource : public ByteSource {
public:
    // Over an entry the caller opened; closes it on destruction only when it
    // owns the handle.
    DepotSource(Depot& depot, u32 handle, bool ownsHandle = false);
    ~DepotSource() override;
    DepotSource(const DepotSource&) = delete;
    DepotSource& operator=(const DepotSource&) = delete;

    // The entry's size, taken at construction.
    u64 size() override { return m_size; }
    u32 handle() const { return m_handle; }

protected:
    void implRead(void* destination, u64 count) override;
    void seek(u64 position) override;

private:
    Depot& m_depot;
    u32 m_handle;
    bool m_ownsHandle;
    u64 m_size;
};

// Opens the asset and wraps it in a source allocated from `allocator` that
// owns the handle. Free it with destroyDepotSource.
DepotSource* createDepotSource(memory::Allocator& allocator, Depot& depot, u64 assetId);
// Closes the entry and gives the memory back.
void destroyDepotSource(memory::Allocator& allocator, DepotSource* source);

} // namespace quern::assets
