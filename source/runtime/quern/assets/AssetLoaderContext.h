#pragma once
// What a handler talks to while it loads one asset: the resources it creates
// and finds, the POD token for the asset's bytes, further streams on the
// asset, and its scratch memory.

#include "quern/Types.h"
#include "quern/assets/ResourceCache.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <memory>
#include <new>
#include <utility>

namespace quern {
class ByteSource;
}
namespace quern::memory {
class Allocator;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::assets {

class AssetHandler;
class DepotSource;

struct ResourceRecord {
    u64 key = 0;
    u32 handle = 0; // a cache handle
    void* resource = nullptr;
    u64 reserved = 0;
};

class AssetLoaderContext {
public:
    using ConstructFunction = ResourceCache::ConstructFunction;

    virtual ~AssetLoaderContext() = default;

    // The cached resource of (asset, type, sub-index); null when it is not
    // cached (dependencies are loaded before the assets that need them).
    virtual void* findResource(u64 assetId, u64 typeId, u32 subIndex) = 0;
    // A handle on the resource of this asset for (type, sub-index) in `out`,
    // creating it when it is not cached: then `size` bytes with `alignment`
    // were allocated for it and `construct` (when given) built the object in
    // them before any other loader could see it. True when it was created.
    virtual bool createResource(u64 typeId, u32 subIndex, u64 size, u64 alignment, ResourceRecord& out,
                                ConstructFunction construct = nullptr, void* constructContext = nullptr) = 0;
    virtual memory::Allocator& allocator() = 0;
    // The text token when the stream starts with '{' or '"', else the binary one.
    virtual serialize::PODToken& podToken(std::istream& stream) = 0;
    virtual serialize::PODToken& podToken(ByteSource& source) = 0;
    // The whole asset in a new stream buffer the caller owns.
    virtual std::unique_ptr<std::streambuf> openStream() = 0;
    // A new source that owns its own entry of the asset; free it with
    // destroyDepotSource and allocator().
    virtual DepotSource* openSource() = 0;
    virtual void allocateScratch(AssetHandler& handler) { (void)handler; }
    virtual void freeScratch() {}
    // The zeroed scratch memory of this load (the handler's scratchBytes);
    // null when the handler asked for none or the context keeps none.
    virtual void* scratch() const { return nullptr; }

    // createResource for an object of type T (a RefCounted resource) built in
    // place from `arguments`; the cache takes the object's first reference.
    // Returns the object, cached or new; `created` tells which.
    template <class T, class... Arguments>
    T* createResourceObject(u64 typeId, u32 subIndex, ResourceRecord& out, bool& created, Arguments&&... arguments)
    {
        auto build = [&](void* memory) { RefCounted::retain(new (memory) T(std::forward<Arguments>(arguments)...)); };
        using Build = decltype(build);
        created = createResource(
            typeId, subIndex, sizeof(T), alignof(T), out,
            [](void* memory, void* context) { (*static_cast<Build*>(context))(memory); }, &build);
        return static_cast<T*>(out.resource);
    }
};

} // namespace quern::assets
