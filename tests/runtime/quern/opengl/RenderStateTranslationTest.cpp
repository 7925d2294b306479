#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/OpenGLStateObject.h"
#include <gtest/gtest.h>

namespace quern::opengl {
namespace {

using namespace graphics;

TEST(RenderStateTranslationTest, TablesMapEngineValuesToGL)
{
    // The blend factors put destination colour before destination alpha.
    EXPECT_EQ(translateBlendFactor(6), GL_DST_COLOR);
    EXPECT_EQ(translateBlendFactor(7), GL_ONE_MINUS_DST_COLOR);
    EXPECT_EQ(translateBlendFactor(8), GL_DST_ALPHA);
    EXPECT_EQ(translateBlendFactor(9), GL_ONE_MINUS_DST_ALPHA);
    EXPECT_EQ(translateBlendFactor(14), GL_SRC_ALPHA_SATURATE);
    EXPECT_EQ(translateBlendEquation(2), GL_FUNC_REVERSE_SUBTRACT);
    EXPECT_EQ(translateBlendEquation(4), GL_MAX);
    EXPECT_EQ(translateComparison(0), GL_ALWAYS);
    EXPECT_EQ(translateComparison(3), GL_GREATER);
    EXPECT_EQ(translateComparison(7), GL_NEVER);
    EXPECT_EQ(translateFillMode(2), GL_POINT);
    EXPECT_EQ(translateLogicOperation(11), GL_EQUIV);
    EXPECT_EQ(translateLogicOperation(15), GL_OR_INVERTED);
    EXPECT_EQ(translateStencilOperation(3), GL_INCR);
    EXPECT_EQ(translateTextureWrap(2), GL_CLAMP);
}

TEST(RenderStateTranslationDeathTest, ValuesOutsideTheTablesAreFatal)
{
    EXPECT_DEATH(translateBlendFactor(15), "Invalid enum value for type AlphaBlendState::BlendFactor");
    EXPECT_DEATH(translateBlendEquation(5), "Invalid enum value for type AlphaBlendState::BlendEquation");
    EXPECT_DEATH(translateComparison(8), "Invalid enum value for type Comparison");
    EXPECT_DEATH(translateFillMode(3), "Invalid enum value for type FillState::FillMode");
    EXPECT_DEATH(translateLogicOperation(16), "Invalid enum value for type LogicalBlendState::BlendOperation");
    EXPECT_DEATH(translateTextureWrap(0), "Invalid texture wrap");
}

TEST(RenderStateTranslationTest, AbsentStatesGiveTheDefaults)
{
    OpenGLStateObject object;
    object.blendEnabled = 1;
    object.logicEnabled = 1;
    object.stencilEnabled = 1;
    translateAlphaBlend(nullptr, object);
    translateCull(nullptr, object);
    translateDepthBuffer(nullptr, object);
    translateFill(nullptr, object);
    translateLogicalBlend(nullptr, object);
    translateStencilBuffer(nullptr, object);
    EXPECT_EQ(object.blendEnabled, 0);
    EXPECT_EQ(object.cullFace, GL_BACK);
    EXPECT_EQ(object.scissorEnabled, 0);
    EXPECT_EQ(object.depthTestEnabled, 1);
    EXPECT_EQ(object.depthWriteEnabled, 1);
    EXPECT_EQ(object.depthFunction, GL_LESS);
    EXPECT_EQ(object.polygonOffsetEnabled, 0);
    EXPECT_EQ(object.polygonMode, GL_FILL);
    EXPECT_EQ(object.lineWidth, 1.0f);
    EXPECT_EQ(object.colourMask[0] + object.colourMask[1] + object.colourMask[2] + object.colourMask[3], 4);
    EXPECT_EQ(object.logicEnabled, 0);
    EXPECT_EQ(object.stencilEnabled, 0);
}

TEST(RenderStateTranslationTest, StatesTranslateTheirFields)
{
    AlphaBlendState blend(nullptr);
    blend.setEnabled(true);
    blend.setSourceFactor(AlphaBlendState::BlendFactor::SourceAlpha);
    blend.setDestinationFactor(AlphaBlendState::BlendFactor::DestinationColour);
    blend.setEquation(AlphaBlendState::BlendEquation::Subtract);
    CullState cull(nullptr);
    cull.setCullMode(CullState::CullFrontFaces);
    cull.setScissorEnabled(true);
    cull.setScissor(1, 2, 3, 4);
    StencilBufferState stencil(nullptr);
    stencil.setComparison(Comparison::Equal);
    stencil.setReference(200);
    stencil.setPassOperation(StencilBufferState::Operation::Replace);
    OpenGLStateObject object;
    translateAlphaBlend(&blend, object);
    translateCull(&cull, object);
    translateStencilBuffer(&stencil, object);
    EXPECT_EQ(object.blendSource, GL_SRC_ALPHA);
    EXPECT_EQ(object.blendDestination, GL_DST_COLOR);
    EXPECT_EQ(object.blendEquation, GL_FUNC_SUBTRACT);
    EXPECT_EQ(object.cullFace, GL_FRONT);
    EXPECT_EQ(object.scissor[2], 3);
    EXPECT_EQ(object.stencilFunction, GL_EQUAL);
    EXPECT_EQ(object.stencilReference, 200);
    EXPECT_EQ(object.stencilPass, GL_REPLACE);
    EXPECT_EQ(object.stencilFail, GL_KEEP);

    cull.setCullMode(CullState::CullNone);
    translateCull(&cull, object);
    EXPECT_EQ(object.cullFace, 0u);
}

TEST(RenderStateTranslationTest, PolygonOffsetNeedsANonZeroFactorOrUnits)
{
    DepthBufferState depth(nullptr);
    depth.setComparison(Comparison::GreaterOrEqual);
    OpenGLStateObject object;
    translateDepthBuffer(&depth, object);
    EXPECT_EQ(object.polygonOffsetEnabled, 0);
    EXPECT_EQ(object.depthFunction, GL_GEQUAL);
    depth.setOffsetUnits(2.0f);
    translateDepthBuffer(&depth, object);
    EXPECT_EQ(object.polygonOffsetEnabled, 1);
    EXPECT_EQ(object.polygonOffsetUnits, 2.0f);
    // With the test off the function is never sent and keeps its old value.
    depth.setTestEnabled(false);
    depth.setComparison(Comparison::Never);
    translateDepthBuffer(&depth, object);
    EXPECT_EQ(object.depthTestEnabled, 0);
    EXPECT_EQ(object.depthFunction, GL_GEQUAL);
}

TEST(RenderStateTranslationTest, ColourMaskWritesOnlyChannelsWhoseByteIsFull)
{
    struct Case {
        u32 mask;
        u8 expected[4];
    };
    const Case cases[] = {
        { 0xffffff00u, { 1, 1, 1, 0 } },
        { 0xffffffffu, { 1, 1, 1, 1 } },
        { 0x7fff80ffu, { 0, 1, 0, 1 } },
    };
    for (const Case& c : cases) {
        FillState fill(nullptr);
        fill.setColourWriteMask(c.mask);
        fill.setFillMode(FillState::FillMode::Lines);
        OpenGLStateObject object;
        translateFill(&fill, object);
        EXPECT_EQ(object.polygonMode, GL_LINE);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(object.colourMask[i], c.expected[i]) << std::hex << c.mask << " channel " << i;
    }
}

TEST(RenderStateTranslationTest, UnitCountIsTheCapabilityCappedAtEight)
{
    for (const auto& [units, expected] : { std::pair { 2u, 2u }, std::pair { 8u, 8u }, std::pair { 32u, 8u } }) {
        DisplayCaps caps;
        caps.textureUnits = units;
        TextureState textures(nullptr);
        OpenGLStateObject object;
        object.units[0].enabled = 1;
        translateTextureState(&textures, caps, object);
        EXPECT_EQ(object.unitCount, expected);
        EXPECT_EQ(object.textureStatePresent, 1);
        // Units without a texture are off.
        EXPECT_EQ(object.units[0].enabled, 0);
        textures.setUnitsEnabled(false);
        translateTextureState(&textures, caps, object);
        EXPECT_EQ(object.textureStatePresent, 0);
    }
}

} // namespace
} // namespace quern::opengl

namespace quern::opengl {
namespace {

// A texture around a 4 x 4 image of the device with that usage and those flags.
graphics::Texture* makeTexture(u32 usage, u32 flags)
{
    auto* image = new OpenGLPixelBuffer(usage, &testing::sharedCaps());
    const u8 texels[64] = {};
    image->setData(
        texels, graphics::PixelBufferFormat::create2D(4, 4, graphics::PixelFormat::A8B8G8R8, 0, 0, 0), nullptr, flags);
    return new graphics::Texture(image);
}

TEST(RenderStateTranslationTest, UnitsTakeFiltersWrapsAndAnisotropyFromTheirImage)
{
    QUERN_REQUIRE_GL();
    Ref plain(makeTexture(graphics::GraphicsBackEnd::TextureImage, 0));
    Ref target(makeTexture(graphics::GraphicsBackEnd::RenderTargetImage, 0));
    Ref clamped(makeTexture(graphics::GraphicsBackEnd::TextureImage, OpenGLPixelBuffer::ClampedLinear));
    graphics::TextureState state(nullptr);
    state.setTexture(0, plain.get<graphics::Texture>());
    state.setTexture(1, target.get<graphics::Texture>());
    state.setTexture(2, clamped.get<graphics::Texture>());
    state.setTexture(3, plain.get<graphics::Texture>());
    state.setMipmapMode(0, 1);
    state.setWrap(0, 0b0111);
    state.setMaxAnisotropy(0, 64.0f);
    state.setLinearFiltering(3, false);
    state.setMipmapMode(3, 5);
    state.setCompareMode(3, 1);
    state.setCompareFunction(3, graphics::Comparison::LessOrEqual);
    graphics::DisplayCaps caps;
    caps.textureUnits = 8;
    caps.maxAnisotropy = 16.0f;
    OpenGLStateObject object;
    translateTextureState(&state, caps, object);
    EXPECT_EQ(object.units[0].minFilter, GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(object.units[0].magFilter, GL_LINEAR);
    EXPECT_EQ(object.units[0].wrapS, GL_CLAMP_TO_EDGE);
    EXPECT_EQ(object.units[0].wrapT, GL_REPEAT);
    EXPECT_EQ(object.units[0].maxAnisotropy, 16.0f);
    // Render-target images and clamped linear ones have no mip levels to filter.
    EXPECT_EQ(object.units[1].minFilter, GL_LINEAR);
    EXPECT_EQ(object.units[2].minFilter, GL_LINEAR);
    // Mip modes above 2 filter within the level only; nearest magnification.
    EXPECT_EQ(object.units[3].minFilter, GL_LINEAR);
    EXPECT_EQ(object.units[3].magFilter, GL_NEAREST);
    EXPECT_EQ(object.units[3].compareMode, GL_COMPARE_REF_TO_TEXTURE);
    EXPECT_EQ(object.units[3].compareFunction, GL_LEQUAL);
    EXPECT_EQ(
        object.units[0].name, static_cast<OpenGLPixelBuffer*>(plain.get<graphics::Texture>()->pixelBuffer())->name());
    EXPECT_EQ(object.units[4].enabled, 0);
}

TEST(RenderStateTranslationDeathTest, ACompareModeAboveOneIsFatal)
{
    QUERN_REQUIRE_GL();
    Ref plain(makeTexture(graphics::GraphicsBackEnd::TextureImage, 0));
    graphics::TextureState state(nullptr);
    state.setTexture(0, plain.get<graphics::Texture>());
    state.setCompareMode(0, 2);
    graphics::DisplayCaps caps;
    caps.textureUnits = 1;
    OpenGLStateObject object;
    EXPECT_DEATH(translateTextureState(&state, caps, object), "Invalid texture compare mode");
}

} // namespace
} // namespace quern::opengl
