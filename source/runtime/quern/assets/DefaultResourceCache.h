#pragma once
// The resource cache: an ordered map of entries by key, a handle table whose
// slots copy the entry they name, and named providers. One re-entrant lock
// guards all of it, so loading workers and the main thread use one cache at
// once, and resource destructors may give their own handles back.

#include "quern/assets/CacheKeyIndex.h"
#include "quern/assets/ResourceCache.h"
#include "quern/containers/HandleTable.h"
#include "quern/debug/MutexImpl.h"
#include "quern/language/RefCounted.h"
#include "quern/memory/Allocator.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quern::assets {

struct CacheHandleEntry {
    u64 key;
    u64 typeId;
    void* resource;
};

class DefaultResourceCache : public ResourceCache {
public:
    // A null allocator is the process default allocator.
    explicit DefaultResourceCache(memory::Allocator* allocator = nullptr);
    ~DefaultResourceCache() override;
    DefaultResourceCache(const DefaultResourceCache&) = delete;
    DefaultResourceCache& operator=(const DefaultResourceCache&) = delete;

    u32 allocateAndInsert(u64 key, u64 typeId, u64 size, u64 alignment) override;
    void clear() override;
    void purgeUnreferenced() override;
    u64 count() override;
    u32 insert(u64 key, u64 typeId, void* resource) override;
    bool releaseByKey(u64 key) override;
    u32 acquire(u64 key) override;
    void release(u32 handle) override;
    CacheEntry* find(u64 key) override;
    void* entry(u32 handle, u64& typeId) override;
    u64 enumerate(u64 typeId, u64& cursor, void** out, u64 capacity) override;
    void addProvider(const char* name, Resource* provider) override;
    bool removeProvider(Resource* provider) override;
    Resource* findProvider(const char* name) override;
    void listProviders(containers::Array& out) override;
    u32 acquireOrCreate(u64 key, u64 typeId, u64 size, u64 alignment, bool& created,
        ConstructFunction construct = nullptr, void* context = nullptr) override;

    memory::Allocator& allocator() const { return *m_allocator; }
    // Handle slots in use now.
    u64 handlesInUse();

private:
    // A handle slot filled from `entry`; fatal "Out of resource handles" (after
    // the per-type report) when every slot is taken.
    u32 takeHandle(const CacheEntry& entry);
    void logHandleReport();
    // Drops the cache's reference, runs the destructor and frees the memory.
    void destroyResource(void* resource);
    // Removes the entry from the map and the index; returns its resource.
    void* eraseEntry(std::map<u64, CacheEntry>::iterator it);

    std::map<std::string, Resource*> m_providerMap;
    std::vector<Ref> m_providers;
    std::unique_ptr<containers::HandleTable> m_handles;
    std::map<u64, CacheEntry> m_entries;
    CacheKeyIndex m_index; // the entries of m_entries by key
    debug::MutexImpl m_mutex;
    memory::Allocator* m_allocator;
};

} // namespace quern::assets
