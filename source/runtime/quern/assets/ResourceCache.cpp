#include "quern/assets/ResourceCache.h"

namespace quern::assets {

const char* resourceTypeName(u64 typeId)
{
    switch (typeId) {
    case ResourceType::AudioLibrary: return "AudioLibrary";
    case ResourceType::AudioStream: return "AudioStream";
    case ResourceType::Font: return "Font";
    case ResourceType::KeyframeAnimation: return "KeyframeAnimation";
    case ResourceType::Material: return "Material";
    case ResourceType::Mesh: return "Mesh";
    case ResourceType::ShaderProgram: return "ShaderProgram";
    case ResourceType::SpriteAnimation: return "SpriteAnimation";
    case ResourceType::Texture: return "Texture";
    case ResourceType::Video: return "Video";
    default: return "<Unknown ResourceType>";
    }
}

containers::Array& ResourceCache::cacheStack()
{
    // Made on first use, freed when the process ends.
    static containers::Array stack(sizeof(ResourceCache*), alignof(ResourceCache*));
    return stack;
}

ResourceCache* ResourceCache::current()
{
    containers::Array& stack = cacheStack();
    return stack.isEmpty() ? nullptr : stack.at<ResourceCache*>(stack.count() - 1);
}

} // namespace quern::assets
