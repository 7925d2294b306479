#include "quern/assets/Resource.h"

#include <atomic>

namespace quern::assets {
namespace {
// Loading threads create resources while the main thread suspends and resumes
// others, so the stamps come from one atomic counter.
std::atomic<u32> g_changeStampCounter{0};
} // namespace

u32 Resource::nextChangeStamp() { return g_changeStampCounter.fetch_add(1, std::memory_order_relaxed) + 1; }

Resource::Resource() : m_changeStamp(nextChangeStamp()) {}

Resource::Resource(const Resource& other) : RefCounted(), m_entry(other.m_entry), m_changeStamp(nextChangeStamp()) {}

Resource::~Resource() = default;

const char* Resource::getName() const
{
    const ResourceEntry* entry = entryObject();
    return entry ? entry->name().c_str() : "";
}

void Resource::loadImpl(AssetStream&) {}

void Resource::suspend()
{
    if (m_state != Loaded)
        return;
    releaseDeviceData();
    m_state = Suspended;
    touch();
}

void Resource::resume()
{
    if (m_state != Suspended)
        return;
    restoreDeviceData();
    m_state = Loaded;
    touch();
}

} // namespace quern::assets
