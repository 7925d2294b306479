#include "harmonize/render/RenderPipeline.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/EntityScenePass.h"
#include "harmonize/systems/RenderSystem.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/entity/World.h"
#include "quern/fx/shadows/ShadowMapRenderPass.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/PixelBufferFormat.h"
#include "quern/graphics/PixelFormat.h"
#include "quern/graphics/TextureRenderTarget.h"
#include "quern/graphics/serialization/PixelBufferSerialization.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/render/BoundingVolumePass.h"
#include "quern/render/Gizmos.h"
#include "quern/render/PassList.h"
#include "quern/scene/Light.h"

#include <algorithm>

namespace harmonize {
namespace {

using quern::graphics::Channel;
using quern::graphics::ChannelContent;
using quern::graphics::ChannelType;
using quern::graphics::PixelBufferFormat;
using quern::graphics::PixelFormat;
using quern::graphics::TextureRenderTarget;

constexpr u32 kShadowMapSize = 1024;
constexpr u32 kGameCameraRigType = 36;

PixelFormat depthFormat(u32 bits)
{
    return PixelFormat::fromOneChannel(Channel { ChannelContent::D, ChannelType::Unsigned, bits, 0, 0 }, 0);
}

// A 2D description with its row pitch and data size computed; `samples` goes
// where the device reads a multisampled image's sample count.
PixelBufferFormat targetFormat(u32 width, u32 height, const PixelFormat& pixels, i32 samples)
{
    PixelBufferFormat format = PixelBufferFormat::create2D(width, height, pixels);
    format.layerCount = samples;
    return format;
}

TextureRenderTarget* createTarget(const PixelBufferFormat* formats, u64 count, quern::graphics::Display& display)
{
    return TextureRenderTarget::createTextureRenderTarget({ formats, count }, display);
}

// The texture limit of the DDS handler for textures loaded from here on.
void applyTextureLimit()
{
    quern::assets::AssetHandlerRegistry* registry = quern::assets::AssetHandlerRegistry::instance();
    if (!registry)
        return;
    for (u64 i = 0; i < registry->count(); ++i)
        if (auto* handler = dynamic_cast<quern::graphics::PixelBufferHandler*>(registry->at(i)))
            handler->setMaxPixels(quern::graphics::textureMaxPixels(Settings::Renderer.quality,
                static_cast<u32>(std::max(Settings::Renderer.maxMipmapSize, 0)), handler->maxPixels()));
}

// Sets the pass's flag; a change makes the owner record again.
template <class Pass> void setEnabled(Pass* pass, bool on)
{
    if (!pass)
        return;
    const u8 wanted = on ? 1 : 0;
    if (pass->enabled != wanted) {
        pass->enabled = wanted;
        pass->invalidate();
    }
}

} // namespace

RenderPipeline& renderPipeline()
{
    static RenderPipeline pipeline;
    return pipeline;
}

EntityHandle findPostEffectSettingsEntity(quern::entity::World& world)
{
    const u64 slots = world.getSlotCount();
    for (u32 type : { kGameCameraRigType, static_cast<u32>(CameraLens::kType) })
        for (u64 i = slots; i-- > 0;)
            if (world.getEnabledMask(i).test(type))
                return EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
    return EntityHandle {};
}

} // namespace harmonize
