#pragma once
// Loaded assets live in a resource cache as reference-counted objects under a
// 64-bit key (asset id ^ type id ^ sub-index). Users hold 32-bit handles
// (16-bit slot index, 16-bit generation; 0 is no handle); each handle counts
// on its entry until it is released. The cache owns the memory of its
// resources: it runs their destructors and frees them.

#include "quern/Types.h"
#include "quern/containers/Array.h"

namespace quern {
class RefCounted;
}

namespace quern::assets {

class Resource;

// Resource type ids, also the type ids of the assets that produce them.
namespace ResourceType {
inline constexpr u64 AudioLibrary = 0x03e0cf078f23150bull;
inline constexpr u64 AudioStream = 0x03e0cf0becdae3b6ull;
inline constexpr u64 Font = 0x0fd782389c07b29full;
inline constexpr u64 KeyframeAnimation = 0x1b8a0919c2dc674dull;
inline constexpr u64 Material = 0x20338faac60a9e37ull;
inline constexpr u64 Mesh = 0x207777010fd8f91dull;
inline constexpr u64 ShaderProgram = 0x2f72e60fbf21825full;
inline constexpr u64 SpriteAnimation = 0x30037bbefc915d98ull;
inline constexpr u64 Texture = 0x31c29021f71f2f49ull;
inline constexpr u64 Video = 0x36eda775c7d9f67bull;
} // namespace ResourceType

// The type's name for logs; "<Unknown ResourceType>" for ids outside the table.
const char* resourceTypeName(u64 typeId);

// The key of the resource made from `assetId` for `typeId` with `subIndex`.
constexpr u64 resourceKey(u64 assetId, u64 typeId, u32 subIndex = 0)
{
    return assetId ^ typeId ^ static_cast<u64>(subIndex);
}

struct CacheEntry {
    u64 key;
    u64 typeId;
    // A RefCounted object placed at the start of memory from the cache's
    // allocator (raw memory until the creator has constructed it).
    void* resource;
    i32 handleCount; // handles given out and not yet released
};

class ResourceCache {
public:
    // Slots a cache hands out at most: index 0xffff is the "no object" mark.
    static constexpr u64 kMaxHandles = 0xffff;

    virtual ~ResourceCache() = default;

    // Allocates `size` bytes for a resource the caller then constructs in
    // them, and inserts them. 0 when the allocator fails, and when the key is
    // cached already (there is nothing new to construct into).
    virtual u32 allocateAndInsert(u64 key, u64 typeId, u64 size, u64 alignment) = 0;
    // Destroys every resource whatever its counts and forgets every provider.
    virtual void clear() = 0;
    // Destroys the resources nobody but the cache references and no handle names.
    virtual void purgeUnreferenced() = 0;
    virtual u64 count() = 0;
    // Takes over `resource` (memory from allocator()) under `key` and returns
    // a handle on it. When the key is cached already the cache keeps its entry
    // and returns a handle on that; the caller keeps its object.
    virtual u32 insert(u64 key, u64 typeId, void* resource) = 0;
    // Destroys the resource of `key` when nothing references it any more:
    // false for a key that is not cached, a font, an entry with handles
    // outstanding and a resource that someone else still holds a reference to.
    virtual bool releaseByKey(u64 key) = 0;
    // A new handle on a cached key; 0 when the key is not cached.
    virtual u32 acquire(u64 key) = 0;
    // Gives a handle back; a stale or unknown handle changes nothing.
    virtual void release(u32 handle) = 0;
    virtual CacheEntry* find(u64 key) = 0;
    // The handle's resource, and its type id into `typeId`; null (type 0) for
    // a stale or unknown handle.
    virtual void* entry(u32 handle, u64& typeId) = 0;
    // Resources of `typeId` in key order, resuming after the `cursor` entries
    // an earlier call passed: writes at most `capacity`, moves the cursor past
    // every entry it looked at, and returns the number written (0 at the end).
    virtual u64 enumerate(u64 typeId, u64& cursor, void** out, u64 capacity) = 0;
    virtual void addProvider(const char* name, Resource* provider) = 0;
    virtual bool removeProvider(Resource* provider) = 0;
    virtual Resource* findProvider(const char* name) = 0;
    // Appends the providers, in registration order, to an Array of pointers.
    virtual void listProviders(containers::Array& out) = 0;

    // One locked step for loaders: a new handle on the key when it is cached,
    // otherwise memory for a new resource inserted under the key, into which
    // `construct` (when given) builds the object before any other thread can
    // reach the entry. `created` tells which happened; 0 when the allocator
    // fails.
    using ConstructFunction = void (*)(void* memory, void* context);
    virtual u32 acquireOrCreate(u64 key, u64 typeId, u64 size, u64 alignment, bool& created,
                                ConstructFunction construct = nullptr, void* context = nullptr) = 0;

    // The process-wide stack of caches; the last one is the current cache.
    static containers::Array& cacheStack();
    // The last cache of the stack, or null.
    static ResourceCache* current();
};

} // namespace quern::assets
