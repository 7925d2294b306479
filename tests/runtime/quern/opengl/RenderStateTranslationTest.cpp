#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/opengl/GLFunctions.h"
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
