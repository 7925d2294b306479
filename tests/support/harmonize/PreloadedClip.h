#pragma once
// Keyframe clips as a level's preload leaves them: written from a content-tool
// clip source, read by the engine's clip reader into the loading worker's
// cache under an asset id.

#include "KeyframeClipWriter.h"

#include "harmonize/tasks/LoadingWorker.h"
#include "quern/animate/KeyframeAnimation.h"
#include "quern/assets/ResourceCache.h"
#include "quern/io/StringSource.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/BinaryPODToken.h"

#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace harmonize::testing {

// The clip is named "clip<asset id in decimal>"; a source the tool refuses is fatal.
inline quern::animate::KeyframeAnimation* preloadClip(LoadingWorker& worker, u64 assetId, const std::string& source)
{
    quern::assetbuild::KeyframeClipSource clip;
    clip.name = "clip" + std::to_string(assetId);
    std::string error;
    if (!quern::assetbuild::parseKeyframeClipSource(std::vector<u8>(source.begin(), source.end()), clip, error))
        QUERN_FATAL(error.c_str());
    std::ostringstream out;
    quern::serialize::BinaryPODToken writer;
    quern::assetbuild::writeKeyframeClip(out, writer, clip);
    const std::string bytes = out.str();

    quern::assets::ResourceCache& cache = worker.cache();
    const u64 type = quern::animate::kKeyframeAnimationTypeId;
    const u32 handle = cache.allocateAndInsert(quern::assets::resourceKey(assetId, type), type,
        sizeof(quern::animate::KeyframeAnimation), alignof(quern::animate::KeyframeAnimation));
    u64 found = 0;
    auto* resource = new (cache.entry(handle, found)) quern::animate::KeyframeAnimation();
    quern::RefCounted::retain(resource); // the cache's reference
    quern::StringSource input(bytes.data(), bytes.size());
    quern::serialize::BinaryPODToken reader;
    quern::animate::readKeyframeAnimation(input, reader, *resource);
    cache.release(handle);
    return resource;
}

} // namespace harmonize::testing
