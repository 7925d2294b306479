#include "harmonize/tasks/PreloadedResources.h"

#include "harmonize/tasks/LoadingWorker.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"

namespace harmonize {
namespace {

// Cache entries of refcounted resources point at their RefCounted base.
quern::RefCounted* preloaded(LoadingWorker& worker, quern::u64 assetId, quern::u64 typeId)
{
    const quern::u32 handle = worker.acquirePreloadedResource(assetId, typeId);
    if (handle == 0)
        return nullptr;
    quern::u64 foundType = 0;
    void* resource = worker.cache().entry(handle, foundType);
    worker.cache().release(handle);
    return foundType == typeId ? static_cast<quern::RefCounted*>(resource) : nullptr;
}

} // namespace

quern::graphics::Material* getPreloadedMaterial(LoadingWorker& worker, quern::u64 assetId)
{
    return static_cast<quern::graphics::Material*>(preloaded(worker, assetId, quern::assets::ResourceType::Material));
}

quern::graphics::Texture* getPreloadedTexture(LoadingWorker& worker, quern::u64 assetId)
{
    return static_cast<quern::graphics::Texture*>(preloaded(worker, assetId, quern::assets::ResourceType::Texture));
}

quern::animate::KeyframeAnimation* getPreloadedKeyframeAnimation(LoadingWorker& worker, quern::u64 assetId)
{
    return static_cast<quern::animate::KeyframeAnimation*>(
        preloaded(worker, assetId, quern::animate::kKeyframeAnimationTypeId));
}

quern::graphics::TextureAtlas* getPreloadedTextureAtlas(LoadingWorker& worker, quern::u64 assetId)
{
    return static_cast<quern::graphics::TextureAtlas*>(preloaded(worker, assetId, quern::graphics::kTextureAtlasTypeId));
}

quern::graphics::Font* getPreloadedFont(LoadingWorker& worker, quern::u64 assetId)
{
    return static_cast<quern::graphics::Font*>(preloaded(worker, assetId, quern::assets::ResourceType::Font));
}

} // namespace harmonize
