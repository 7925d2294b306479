#include "quern/assets/DefaultAssetLoaderContext.h"

#include "quern/assets/AssetHandler.h"
#include "quern/assets/Depot.h"
#include "quern/assets/DepotSource.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODUtility.h"

#include <cstring>
#include <istream>
#include <sstream>
#include <string>

namespace quern::assets {

DefaultAssetLoaderContext::DefaultAssetLoaderContext(u64 assetId, Depot& depot, ResourceCache& cache)
    : m_assetId(assetId)
    , m_depot(depot)
    , m_cache(cache)
{
}

DefaultAssetLoaderContext::~DefaultAssetLoaderContext()
{
    releaseFirstResource();
    freeScratch();
}

void DefaultAssetLoaderContext::releaseFirstResource()
{
    if (m_first.handle != 0)
        m_cache.release(m_first.handle);
    m_first.handle = 0;
}

void* DefaultAssetLoaderContext::findResource(u64 assetId, u64 typeId, u32 subIndex)
{
    const u32 handle = m_cache.acquire(resourceKey(assetId, typeId, subIndex));
    if (handle == 0)
        return nullptr;
    u64 type = 0;
    void* resource = m_cache.entry(handle, type);
    m_cache.release(handle);
    return resource;
}

bool DefaultAssetLoaderContext::createResource(u64 typeId, u32 subIndex, u64 size, u64 alignment, ResourceRecord& out,
    ConstructFunction construct, void* constructContext)
{
    out.key = resourceKey(m_assetId, typeId, subIndex);
    out.reserved = 0;
    bool created = false;
    out.handle = m_cache.acquireOrCreate(out.key, typeId, size, alignment, created, construct, constructContext);
    if (out.handle == 0)
        QUERN_OUT_OF_MEMORY();
    u64 type = 0;
    out.resource = m_cache.entry(out.handle, type);
    if (!m_hasFirst) {
        m_first = out;
        m_hasFirst = true;
    }
    return created;
}

memory::Allocator& DefaultAssetLoaderContext::allocator() { return *memory::getDefaultAllocator(); }

serialize::PODToken& DefaultAssetLoaderContext::podToken(std::istream& stream)
{
    const std::istream::int_type first = stream.peek();
    if (stream.fail() || stream.bad())
        QUERN_RAISE(FileReadException);
    if (first != std::istream::traits_type::eof()
        && serialize::isTextPODForm(static_cast<u8>(std::istream::traits_type::to_char_type(first))))
        return m_textToken;
    return m_binaryToken;
}

serialize::PODToken& DefaultAssetLoaderContext::podToken(ByteSource& source)
{
    const u64 position = source.position;
    if (position >= source.size())
        return m_binaryToken;
    u8 first = 0;
    source.read(&first, 1);
    source.position = position;
    return serialize::isTextPODForm(first) ? static_cast<serialize::PODToken&>(m_textToken) : m_binaryToken;
}

std::unique_ptr<std::streambuf> DefaultAssetLoaderContext::openStream()
{
    const u32 handle = m_depot.open(m_assetId);
    std::string bytes;
    for (;;) {
        const u64 had = bytes.size();
        bytes.resize(had + kStreamReadSize);
        const u64 n = m_depot.read(handle, kStreamReadSize, bytes.data() + had);
        bytes.resize(had + n);
        if (n < kStreamReadSize)
            break;
    }
    m_depot.close(handle);
    return std::make_unique<std::stringbuf>(std::move(bytes), std::ios::in);
}

DepotSource* DefaultAssetLoaderContext::openSource() { return createDepotSource(allocator(), m_depot, m_assetId); }

void DefaultAssetLoaderContext::setScratch(u64 size)
{
    freeScratch();
    if (size == 0)
        return;
    m_scratch = allocator().allocate(size, kScratchAlignment);
    if (!m_scratch)
        QUERN_OUT_OF_MEMORY();
    std::memset(m_scratch, 0, size);
    m_scratchSize = size;
}

void DefaultAssetLoaderContext::allocateScratch(AssetHandler& handler)
{
    AssetHandlerInfo info {};
    handler.describe(info);
    setScratch(info.scratchBytes);
}

void DefaultAssetLoaderContext::freeScratch()
{
    if (m_scratch)
        allocator().free(m_scratch);
    m_scratch = nullptr;
    m_scratchSize = 0;
}

} // namespace quern::assets
