#pragma once
// The steps the post effects share on their materials: a private copy of a
// material the level preloaded, property writes by 1-based index (index 0,
// a property the material lacks, writes nothing), and the blit material's
// main texture.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {
class GenericMaterial;
class Texture;
} // namespace quern::graphics

namespace harmonize {

using quern::f32;
using quern::i32;
using quern::u64;

class LoadingWorker;

// A copy of the preloaded material `assetId` whose depth test always
// passes. Empty, with an error naming the effect and the id, when the level
// did not preload a material of that id: the effect is then left out.
quern::Ref prepareEffectMaterial(LoadingWorker& worker, u64 assetId, const char* effect);

void setVector(quern::graphics::GenericMaterial& material, i32 index, f32 x, f32 y, f32 z, f32 w);
void setFloat(quern::graphics::GenericMaterial& material, i32 index, f32 value);
void setTexture(quern::graphics::GenericMaterial& material, i32 index, quern::graphics::Texture* texture);

// The main texture of a blit or brightness material: a new texture marks
// the material dirty, so its pass samples it.
template <class CopyMaterial> void setBlitSource(CopyMaterial& material, quern::graphics::Texture* texture)
{
    if (material.source() == texture)
        return;
    material.setSource(texture);
    material.setDirty();
}
// A new blit material that halves its source's size.
quern::Ref makeDownsampleMaterial();

} // namespace harmonize
