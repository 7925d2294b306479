#include "quern/assets/DefaultResourceCache.h"

#include "quern/assets/Resource.h"
#include "quern/debug/Log.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>

namespace quern::assets {
namespace {

using debug::MutexLock;

RefCounted* counted(void* resource) { return static_cast<RefCounted*>(resource); }

std::unique_ptr<containers::HandleTable> makeHandleTable()
{
    return std::make_unique<containers::HandleTable>(sizeof(CacheHandleEntry), alignof(CacheHandleEntry));
}

} // namespace

DefaultResourceCache::DefaultResourceCache(memory::Allocator* allocator)
    : m_handles(makeHandleTable())
    // Loaders and the main thread make short calls and never poll the cache
    // in a loop: its mutex may favour whoever holds it.
    , m_mutex(debug::MutexImpl::Spin::BackOff)
    , m_allocator(allocator ? allocator : memory::getDefaultAllocator())
{
    if (!m_allocator)
        QUERN_FATAL("DefaultResourceCache needs an allocator");
}

DefaultResourceCache::~DefaultResourceCache() { clear(); }

void DefaultResourceCache::destroyResource(void* resource)
{
    if (!resource)
        return;
    RefCounted* object = counted(resource);
    RefCounted::decrementRef(object);
    object->~RefCounted();
    m_allocator->free(resource);
}

u32 DefaultResourceCache::takeHandle(const CacheEntry& entry)
{
    if (m_handles->freeCount() == 0 && m_handles->slotCount() >= kMaxHandles) {
        logHandleReport();
        QUERN_FATAL("Out of resource handles");
    }
    u32 handle = 0;
    CacheHandleEntry* slot = m_handles->allocate<CacheHandleEntry>(handle);
    *slot = { entry.key, entry.typeId, entry.resource };
    return handle;
}

void DefaultResourceCache::logHandleReport()
{
    // Freed slots keep the type they last held, which shows who used them up.
    std::map<u64, u64> perType;
    for (u64 i = 0; i < m_handles->slotCount(); ++i)
        ++perType[static_cast<CacheHandleEntry*>(m_handles->entryAt(i))->typeId];
    for (const auto& [typeId, handles] : perType)
        QUERN_LOG(3) << resourceTypeName(typeId) << ": " << handles << " handles" << std::endl;
}

void* DefaultResourceCache::eraseEntry(std::map<u64, CacheEntry>::iterator it)
{
    void* resource = it->second.resource;
    m_index.erase(it->first);
    m_entries.erase(it);
    return resource;
}

u32 DefaultResourceCache::insert(u64 key, u64 typeId, void* resource)
{
    MutexLock lock(m_mutex);
    // A key cached already keeps its entry; the handle names that entry.
    auto [it, added] = m_entries.try_emplace(key, CacheEntry { key, typeId, resource, 0 });
    if (added)
        m_index.add(&it->second);
    const u32 handle = takeHandle(it->second);
    ++it->second.handleCount;
    return handle;
}

u32 DefaultResourceCache::allocateAndInsert(u64 key, u64 typeId, u64 size, u64 alignment)
{
    MutexLock lock(m_mutex);
    if (m_index.find(key)) {
        QUERN_LOG(2) << "Resource " << resourceTypeName(typeId) << " is cached already" << std::endl;
        return 0;
    }
    void* memory = m_allocator->allocate(size, alignment);
    if (!memory)
        return 0;
    return insert(key, typeId, memory);
}

u32 DefaultResourceCache::acquireOrCreate(
    u64 key, u64 typeId, u64 size, u64 alignment, bool& created, ConstructFunction construct, void* context)
{
    MutexLock lock(m_mutex);
    created = false;
    if (m_index.find(key))
        return acquire(key);
    void* memory = m_allocator->allocate(size, alignment);
    if (!memory)
        return 0;
    if (construct)
        construct(memory, context);
    created = true;
    return insert(key, typeId, memory);
}

u32 DefaultResourceCache::acquire(u64 key)
{
    MutexLock lock(m_mutex);
    CacheEntry* found = m_index.find(key);
    if (!found)
        return 0;
    const u32 handle = takeHandle(*found);
    ++found->handleCount;
    return handle;
}

void DefaultResourceCache::release(u32 handle)
{
    MutexLock lock(m_mutex);
    CacheHandleEntry* slot = m_handles->lookup<CacheHandleEntry>(handle);
    if (!slot)
        return;
    CacheEntry* found = m_index.find(slot->key);
    if (found && found->handleCount > 0)
        --found->handleCount;
    m_handles->release(handle);
}

void* DefaultResourceCache::entry(u32 handle, u64& typeId)
{
    MutexLock lock(m_mutex);
    const CacheHandleEntry* slot = m_handles->lookup<CacheHandleEntry>(handle);
    typeId = slot ? slot->typeId : 0;
    return slot ? slot->resource : nullptr;
}

CacheEntry* DefaultResourceCache::find(u64 key)
{
    MutexLock lock(m_mutex);
    return m_index.find(key);
}

u64 DefaultResourceCache::count()
{
    MutexLock lock(m_mutex);
    return m_entries.size();
}

u64 DefaultResourceCache::handlesInUse()
{
    MutexLock lock(m_mutex);
    return m_handles->slotCount() - m_handles->freeCount();
}

bool DefaultResourceCache::releaseByKey(u64 key)
{
    MutexLock lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end() || it->second.typeId == ResourceType::Font)
        return false;
    // The cache holds one reference; any other holder keeps the object alive.
    void* resource = it->second.resource;
    if (it->second.handleCount > 0 || (resource && counted(resource)->refCount() > 1))
        return false;
    destroyResource(eraseEntry(it));
    return true;
}

void DefaultResourceCache::purgeUnreferenced()
{
    MutexLock lock(m_mutex);
    // Keys first: a destructor may give handles back or touch other entries.
    std::vector<u64> keys;
    for (const auto& [key, entry] : m_entries)
        if (entry.handleCount == 0 && (!entry.resource || counted(entry.resource)->refCount() <= 1))
            keys.push_back(key);
    for (u64 key : keys) {
        auto it = m_entries.find(key);
        if (it == m_entries.end() || it->second.handleCount != 0)
            continue;
        destroyResource(eraseEntry(it));
    }
}

void DefaultResourceCache::clear()
{
    MutexLock lock(m_mutex);
    m_providerMap.clear();
    std::vector<Ref> providers;
    providers.swap(m_providers);
    providers.clear();

    std::map<u64, CacheEntry> entries;
    entries.swap(m_entries);
    m_index.clear();
    for (auto& [key, entry] : entries)
        destroyResource(entry.resource);
    m_handles = makeHandleTable();
}

u64 DefaultResourceCache::enumerate(u64 typeId, u64& cursor, void** out, u64 capacity)
{
    MutexLock lock(m_mutex);
    u64 written = 0;
    if (capacity == 0 || cursor >= m_entries.size())
        return 0;
    auto it = m_entries.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(cursor));
    for (; it != m_entries.end() && written < capacity; ++it) {
        ++cursor;
        if (it->second.typeId == typeId && it->second.resource)
            out[written++] = it->second.resource;
    }
    return written;
}

void DefaultResourceCache::addProvider(const char* name, Resource* provider)
{
    if (!name || !provider)
        return;
    MutexLock lock(m_mutex);
    m_providerMap[name] = provider;
    const bool listed = std::any_of(
        m_providers.begin(), m_providers.end(), [provider](const Ref& ref) { return ref.object() == provider; });
    if (!listed)
        m_providers.emplace_back(provider);
    if (const ResourceEntry* entry = provider->entryObject()) {
        for (const std::string* text : { &entry->name(), &entry->sourceName() })
            if (!text->empty())
                m_providerMap.try_emplace(*text, provider);
    }
}

bool DefaultResourceCache::removeProvider(Resource* provider)
{
    MutexLock lock(m_mutex);
    bool found = false;
    for (auto it = m_providerMap.begin(); it != m_providerMap.end();) {
        if (it->second == provider) {
            it = m_providerMap.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    auto listed = std::find_if(
        m_providers.begin(), m_providers.end(), [provider](const Ref& ref) { return ref.object() == provider; });
    if (listed != m_providers.end()) {
        Ref held = std::move(*listed);
        m_providers.erase(listed);
        found = true;
    }
    return found;
}

Resource* DefaultResourceCache::findProvider(const char* name)
{
    if (!name)
        return nullptr;
    MutexLock lock(m_mutex);
    auto it = m_providerMap.find(name);
    return it == m_providerMap.end() ? nullptr : it->second;
}

void DefaultResourceCache::listProviders(containers::Array& out)
{
    MutexLock lock(m_mutex);
    for (const Ref& ref : m_providers)
        out.append(ref.object());
}

} // namespace quern::assets
