#include "harmonize/render/EffectMaterials.h"

#include "harmonize/tasks/PreloadedResources.h"

#include "quern/debug/Log.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/materials/BlitMaterial.h"

#include <ios>

namespace harmonize {

quern::Ref prepareEffectMaterial(LoadingWorker& worker, u64 assetId, const char* effect)
{
    auto* preloaded = dynamic_cast<quern::graphics::GenericMaterial*>(getPreloadedMaterial(worker, assetId));
    if (!preloaded) {
        QUERN_LOG(1) << effect << " material 0x" << std::hex << assetId << std::dec
                     << " was not preloaded by the level; the effect is left out" << std::endl;
        return {};
    }
    quern::Ref copy(preloaded->clone());
    // A full-screen quad must never be hidden by depth left in the target.
    copy.get<quern::graphics::GenericMaterial>()->setDepthComparison(0);
    return copy;
}

void setVector(quern::graphics::GenericMaterial& material, i32 index, f32 x, f32 y, f32 z, f32 w)
{
    const f32 value[4] = { x, y, z, w };
    if (index != 0)
        material.setPropertyVector(index, value);
}

void setFloat(quern::graphics::GenericMaterial& material, i32 index, f32 value)
{
    if (index != 0)
        material.setPropertyFloat(index, value);
}

void setTexture(quern::graphics::GenericMaterial& material, i32 index, quern::graphics::Texture* texture)
{
    if (index != 0)
        material.setPropertyTexture(index, texture);
}

quern::Ref makeDownsampleMaterial()
{
    auto* material = new quern::graphics::BlitMaterial();
    material->setDownsample(true);
    material->setDirty();
    return quern::Ref(material);
}

} // namespace harmonize
