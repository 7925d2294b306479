#include "quern/assets/AssetHandlerRegistry.h"

#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/Depot.h"
#include "quern/assets/DepotSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

#include <atomic>
#include <cinttypes>
#include <cstring>

namespace quern::assets {
namespace {
std::atomic<AssetHandlerRegistry*> g_registry { nullptr };
} // namespace

AssetHandlerRegistry::AssetHandlerRegistry(memory::Allocator* allocator)
    : m_handlers(sizeof(AssetHandler*), alignof(AssetHandler*), allocator)
    , m_allocator(allocator ? allocator : memory::getDefaultAllocator())
{
    if (!m_allocator)
        QUERN_FATAL("AssetHandlerRegistry needs an allocator");
}

AssetHandlerRegistry::~AssetHandlerRegistry()
{
    for (u64 i = 0; i < m_handlers.count(); ++i) {
        AssetHandler* handler = at(i);
        handler->~AssetHandler();
        m_allocator->free(handler);
    }
    m_handlers.release();
    AssetHandlerRegistry* self = this;
    g_registry.compare_exchange_strong(self, nullptr);
}

void* AssetHandlerRegistry::allocateHandler(u64 size, u64 alignment)
{
    void* memory = m_allocator->allocate(size, alignment);
    if (!memory)
        QUERN_OUT_OF_MEMORY();
    return memory;
}

void AssetHandlerRegistry::add(AssetHandler* handler)
{
    if (!handler)
        QUERN_FATAL("AssetHandlerRegistry::add of a null handler");
    m_handlers.append(handler);
}

AssetHandler* AssetHandlerRegistry::findHandler(u64 typeId) const
{
    for (u64 i = 0; i < m_handlers.count(); ++i) {
        AssetHandlerInfo info {};
        at(i)->describe(info);
        if (info.typeId == typeId && info.format && std::strcmp(info.format, kNativeAssetFormat) == 0)
            return at(i);
    }
    return nullptr;
}

AssetHandlerRegistry* AssetHandlerRegistry::instance() { return g_registry.load(std::memory_order_acquire); }

void AssetHandlerRegistry::setInstance(AssetHandlerRegistry* registry)
{
    g_registry.store(registry, std::memory_order_release);
}

u64 loadAsset(u64 assetId, u64 typeId, Depot& depot, ResourceCache& cache)
{
    AssetHandlerRegistry* registry = AssetHandlerRegistry::instance();
    if (!registry)
        QUERN_FATAL("No asset handler registry installed");
    AssetHandler* found = registry->findHandler(typeId);
    if (!found) {
        const auto message
            = strings::format<128>("No asset handler for type %s (0x%016" PRIx64 ")", resourceTypeName(typeId), typeId);
        QUERN_FATAL(message.c_str());
    }
    DefaultAssetLoaderContext context(assetId, depot, cache);
    return loadAssetWith(*found, context);
}

u64 loadAssetWith(AssetHandler& handler, DefaultAssetLoaderContext& context)
{
    AssetHandlerInfo info {};
    handler.describe(info);
    const bool keepOpen = info.keepOpen;

    Depot& depot = context.depot();
    const u32 entry = depot.open(context.assetId());
    depot.seek(entry, 0);
    {
        DepotSource source(depot, entry, false);
        context.allocateScratch(handler);
        handler.prepare(source, context);
        handler.preload(context);
        handler.load(source, context);
        handler.finalize(context);
        handler.link(context);
        context.freeScratch();
    }
    if (!keepOpen)
        depot.close(entry);

    const u64 key = context.hasFirstResource() ? context.firstResource().key : 0;
    context.releaseFirstResource();
    return key;
}

} // namespace quern::assets
