#pragma once
// A small resource for cache and resource tests: it counts its destructions
// and its device-data calls, and can be built in memory the cache hands out.

#include "quern/assets/ResourceCache.h"
#include "quern/assets/Resource.h"

#include <new>

namespace quern::test {

struct ResourceCounters {
    int destroyed = 0;
    int released = 0;
    int restored = 0;
};

class CountingResource : public assets::Resource {
public:
    explicit CountingResource(ResourceCounters* counters = nullptr, u64 value = 0)
        : m_counters(counters), m_value(value)
    {
    }
    CountingResource(const CountingResource& other) = default;
    ~CountingResource() override
    {
        if (m_counters)
            ++m_counters->destroyed;
    }

    void* getData() override { return &m_value; }
    u64 getMemorySize() override { return sizeof m_value; }
    void releaseDeviceData() override
    {
        if (m_counters)
            ++m_counters->released;
    }
    void restoreDeviceData() override
    {
        if (m_counters)
            ++m_counters->restored;
    }

    u64 value() const { return m_value; }

private:
    ResourceCounters* m_counters;
    u64 m_value;
};

// Caches a new CountingResource under `key` the way loaders do: memory from
// the cache, the object built in it, the cache's reference taken. Returns the
// handle the insertion gave.
inline u32 cacheResource(assets::ResourceCache& cache, u64 key, u64 typeId, ResourceCounters* counters = nullptr,
                         u64 value = 0)
{
    const u32 handle = cache.allocateAndInsert(key, typeId, sizeof(CountingResource), alignof(CountingResource));
    if (handle == 0)
        return 0;
    u64 type = 0;
    void* memory = cache.entry(handle, type);
    RefCounted::retain(new (memory) CountingResource(counters, value));
    return handle;
}

inline CountingResource* cachedResource(assets::ResourceCache& cache, u32 handle)
{
    u64 type = 0;
    return static_cast<CountingResource*>(cache.entry(handle, type));
}

} // namespace quern::test
