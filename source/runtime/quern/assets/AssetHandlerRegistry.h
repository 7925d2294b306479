#pragma once
// The process-wide list of asset handlers, filled by the game before any
// loading starts and only read afterwards; and loadAsset, which loads one
// asset synchronously through its handler.

#include "quern/Types.h"
#include "quern/assets/AssetHandler.h"
#include "quern/containers/Array.h"
#include "quern/memory/Allocator.h"

#include <new>
#include <utility>

namespace quern::assets {

class DefaultAssetLoaderContext;
class Depot;
class ResourceCache;

class AssetHandlerRegistry {
public:
    // Handlers are allocated from `allocator` (null: the default allocator).
    explicit AssetHandlerRegistry(memory::Allocator* allocator = nullptr);
    // Destroys every handler and frees it through the registry's allocator.
    ~AssetHandlerRegistry();
    AssetHandlerRegistry(const AssetHandlerRegistry&) = delete;
    AssetHandlerRegistry& operator=(const AssetHandlerRegistry&) = delete;

    // Appends a handler whose memory came from allocator(); the registry owns it.
    void add(AssetHandler* handler);
    // Builds a handler in the registry's memory and appends it.
    template <class T, class... Arguments> T* create(Arguments&&... arguments)
    {
        void* memory = allocateHandler(sizeof(T), alignof(T));
        T* handler = new (memory) T(std::forward<Arguments>(arguments)...);
        add(handler);
        return handler;
    }

    // The first handler, in registration order, that describes itself with
    // `typeId` and the "native" format; null when none does.
    AssetHandler* findHandler(u64 typeId) const;

    u64 count() const { return m_handlers.count(); }
    AssetHandler* at(u64 index) const { return m_handlers.at<AssetHandler*>(index); }
    memory::Allocator& allocator() const { return *m_allocator; }

    // The registry that loadAsset uses; null until the game installs one.
    static AssetHandlerRegistry* instance();
    static void setInstance(AssetHandlerRegistry* registry);

private:
    void* allocateHandler(u64 size, u64 alignment);

    containers::Array m_handlers;
    memory::Allocator* m_allocator;
};

// Loads the asset through the process registry's handler for `typeId`: runs
// every stage in order on this thread and returns the key of the first
// resource the handler created or found, 0 when it made none. A type that no
// handler loads is fatal, naming the type.
u64 loadAsset(u64 assetId, u64 typeId, Depot& depot, ResourceCache& cache);

// What loadAsset does once it has the handler and a context for the asset:
// opens the asset in the context's depot, runs every stage with the handler's
// scratch memory, closes the entry unless the handler keeps it open, and
// returns the first resource's key (its handle released).
u64 loadAssetWith(AssetHandler& handler, DefaultAssetLoaderContext& context);

} // namespace quern::assets
