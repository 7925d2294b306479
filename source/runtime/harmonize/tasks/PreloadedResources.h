#pragma once
// The materials, textures, texture atlases and keyframe clips a level
// preloaded, looked up by asset id. The loading worker's preload keeps them
// alive; the look-up holds no handle.

#include "quern/Types.h"

namespace quern::animate {
class KeyframeAnimation;
}
namespace quern::graphics {
class Font;
class Material;
class Texture;
class TextureAtlas;
} // namespace quern::graphics

namespace harmonize {

class LoadingWorker;

// Null, after the worker's "Resource was not preloaded" assertion, for an id
// the level did not preload; null also when the id names another kind.
quern::graphics::Material* getPreloadedMaterial(LoadingWorker& worker, quern::u64 assetId);
quern::graphics::Texture* getPreloadedTexture(LoadingWorker& worker, quern::u64 assetId);
quern::animate::KeyframeAnimation* getPreloadedKeyframeAnimation(LoadingWorker& worker, quern::u64 assetId);
quern::graphics::TextureAtlas* getPreloadedTextureAtlas(LoadingWorker& worker, quern::u64 assetId);
quern::graphics::Font* getPreloadedFont(LoadingWorker& worker, quern::u64 assetId);

} // namespace harmonize
