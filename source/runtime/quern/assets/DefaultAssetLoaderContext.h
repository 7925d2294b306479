#pragma once
// The loader context of one asset load, made on the stack by the loader: it
// knows the asset id, the depot and the cache, and keeps a handle on the
// first resource the load created or found until it is done.

#include "quern/assets/AssetLoaderContext.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

namespace quern::assets {

class Depot;

class DefaultAssetLoaderContext : public AssetLoaderContext {
public:
    // Pieces in which openStream reads the asset.
    static constexpr u64 kStreamReadSize = 8192;
    // Handlers keep pointers and 64-bit fields in their scratch memory and
    // read them in place.
    static constexpr u64 kScratchAlignment = 16;

    DefaultAssetLoaderContext(u64 assetId, Depot& depot, ResourceCache& cache);
    // Releases the first resource's handle when it still holds it.
    ~DefaultAssetLoaderContext() override;
    DefaultAssetLoaderContext(const DefaultAssetLoaderContext&) = delete;
    DefaultAssetLoaderContext& operator=(const DefaultAssetLoaderContext&) = delete;

    void* findResource(u64 assetId, u64 typeId, u32 subIndex) override;
    bool createResource(u64 typeId, u32 subIndex, u64 size, u64 alignment, ResourceRecord& out,
        ConstructFunction construct = nullptr, void* constructContext = nullptr) override;
    memory::Allocator& allocator() override;
    // A stream that has failed already is fatal "Error reading from file".
    serialize::PODToken& podToken(std::istream& stream) override;
    serialize::PODToken& podToken(ByteSource& source) override;
    std::unique_ptr<std::streambuf> openStream() override;
    DepotSource* openSource() override;
    void allocateScratch(AssetHandler& handler) override;
    void freeScratch() override;

    // Zeroed scratch memory the handler asked for (null when none).
    void* scratch() const override { return m_scratch; }
    u64 scratchSize() const { return m_scratchSize; }
    // Zeroed memory of `size` bytes, aligned to kScratchAlignment, from
    // allocator() as the scratch (freeing earlier scratch).
    void setScratch(u64 size);

    bool hasFirstResource() const { return m_hasFirst; }
    const ResourceRecord& firstResource() const { return m_first; }
    // Gives the first resource's handle back (its key stays).
    void releaseFirstResource();

    u64 assetId() const { return m_assetId; }
    Depot& depot() const { return m_depot; }
    ResourceCache& cache() const { return m_cache; }

private:
    u64 m_scratchSize = 0;
    void* m_scratch = nullptr;
    ResourceRecord m_first;
    bool m_hasFirst = false;
    u64 m_assetId;
    Depot& m_depot;
    ResourceCache& m_cache;
    serialize::BinaryPODToken m_binaryToken;
    serialize::TextPODToken m_textToken;
};

} // namespace quern::assets
