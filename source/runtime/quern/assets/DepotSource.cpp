#include "quern/assets/DepotSource.h"

#include "quern/platform/ErrorReporting.h"

#include <new>

namespace quern::assets {

DepotSource::DepotSource(Depot& depot, u32 handle, bool ownsHandle)
    : m_depot(depot), m_handle(handle), m_ownsHandle(ownsHandle), m_size(depot.size(handle))
{
}

DepotSource::~DepotSource()
{
    if (m_ownsHandle)
        m_depot.close(m_handle);
}

void DepotSource::implRead(void* destination, u64 count)
{
    if (m_depot.read(m_handle, count, destination) != count)
        QUERN_FATAL("Read error");
}

void DepotSource::seek(u64 position)
{
    m_depot.seek(m_handle, position);
}

DepotSource* createDepotSource(memory::Allocator& allocator, Depot& depot, u64 assetId)
{
    void* memory = allocator.allocate(sizeof(DepotSource), alignof(DepotSource));
    if (!memory)
        QUERN_OUT_OF_MEMORY();
    const u32 handle = depot.open(assetId);
    return new (memory) DepotSource(depot, handle, true);
}

void destroyDepotSource(memory::Allocator& allocator, DepotSource* source)
{
    if (!source)
        return;
    source->~DepotSource();
    allocator.free(source);
}

} // namespace quern::assets
