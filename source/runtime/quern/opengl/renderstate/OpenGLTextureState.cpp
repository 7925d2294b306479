#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/OpenGLStateObject.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/platform/ErrorReporting.h"
#include <algorithm>

namespace quern::opengl {

u32 translateTextureWrap(u8 wrap)
{
    // GL_CLAMP is kept: the back end runs on a compatibility context.
    switch (wrap) {
    case graphics::TextureState::kWrapRepeat:
        return GL_REPEAT;
    case graphics::TextureState::kWrapClamp:
        return GL_CLAMP;
    case graphics::TextureState::kWrapClampToEdge:
        return GL_CLAMP_TO_EDGE;
    default:
        QUERN_FATAL("Invalid texture wrap");
    }
}

namespace {

u32 minificationFilter(const OpenGLPixelBuffer& image, const graphics::TextureUnit& unit, u32 magnification)
{
    if (image.usage() == graphics::GraphicsBackEnd::RenderTargetImage
        || (image.createFlags() & OpenGLPixelBuffer::ClampedLinear) != 0 || image.target() == GL_TEXTURE_RECTANGLE
        || unit.mipmapMode == 0)
        return magnification;
    // Within a level the filter is always linear, whatever the unit asks.
    switch (unit.mipmapMode) {
    case 1:
        return GL_LINEAR_MIPMAP_NEAREST;
    case 2:
        return GL_LINEAR_MIPMAP_LINEAR;
    default:
        return GL_LINEAR;
    }
}

void translateUnit(const graphics::TextureUnit& unit, const graphics::DisplayCaps& caps, OpenGLTextureUnitState& out)
{
    const auto* image = unit.texture ? static_cast<const OpenGLPixelBuffer*>(unit.texture->pixelBuffer()) : nullptr;
    if (!unit.enabled || !image) {
        out.enabled = 0;
        return;
    }
    out.enabled = 1;
    out.name = image->name();
    out.target = image->target();
    if (out.target == GL_TEXTURE_2D_MULTISAMPLE)
        return;
    out.magFilter = unit.linearFiltering ? GL_LINEAR : GL_NEAREST;
    out.minFilter = minificationFilter(*image, unit, out.magFilter);
    out.maxAnisotropy = std::min(unit.maxAnisotropy, caps.maxAnisotropy);
    out.wrapS = translateTextureWrap(unit.wrap & 3);
    out.wrapT = translateTextureWrap((unit.wrap >> 2) & 3);
    out.compareFunction = translateComparison(unit.compareFunction);
    if (unit.compareMode > 1)
        QUERN_FATAL("Invalid texture compare mode");
    out.compareMode = unit.compareMode == 1 ? GL_COMPARE_REF_TO_TEXTURE : 0;
}

} // namespace

void translateTextureState(
    const graphics::TextureState* state, const graphics::DisplayCaps& caps, OpenGLStateObject& out)
{
    out.unitCount = std::min<u32>(caps.textureUnits, OpenGLStateObject::kMaxTextureUnits);
    if (!state || !state->unitsEnabled()) {
        for (u32 i = 0; i < out.unitCount; ++i)
            out.units[i].enabled = 0;
        out.textureStatePresent = 0;
        return;
    }
    out.textureStatePresent = 1;
    for (u32 i = 0; i < out.unitCount; ++i)
        translateUnit(state->unit(i), caps, out.units[i]);
}

} // namespace quern::opengl
