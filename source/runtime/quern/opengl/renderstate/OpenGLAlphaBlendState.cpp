#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLStateObject.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/platform/ErrorReporting.h"
#include <cstring>
#include <iterator>

namespace quern::opengl {

u32 translateBlendFactor(u8 factor)
{
    // Destination colour comes before destination alpha here, unlike GL's own order.
    static constexpr u32 kFactors[] = {
        GL_ZERO,
        GL_ONE,
        GL_SRC_COLOR,
        GL_ONE_MINUS_SRC_COLOR,
        GL_SRC_ALPHA,
        GL_ONE_MINUS_SRC_ALPHA,
        GL_DST_COLOR,
        GL_ONE_MINUS_DST_COLOR,
        GL_DST_ALPHA,
        GL_ONE_MINUS_DST_ALPHA,
        GL_CONSTANT_COLOR,
        GL_ONE_MINUS_CONSTANT_COLOR,
        GL_CONSTANT_ALPHA,
        GL_ONE_MINUS_CONSTANT_ALPHA,
        GL_SRC_ALPHA_SATURATE,
    };
    if (factor >= std::size(kFactors))
        QUERN_FATAL_INVALID_ENUM("AlphaBlendState::BlendFactor");
    return kFactors[factor];
}

u32 translateBlendEquation(u8 equation)
{
    static constexpr u32 kEquations[] = { GL_FUNC_ADD, GL_FUNC_SUBTRACT, GL_FUNC_REVERSE_SUBTRACT, GL_MIN, GL_MAX };
    if (equation >= std::size(kEquations))
        QUERN_FATAL_INVALID_ENUM("AlphaBlendState::BlendEquation");
    return kEquations[equation];
}

void translateAlphaBlend(const graphics::AlphaBlendState* state, OpenGLStateObject& out)
{
    if (!state || !state->isEnabled()) {
        out.blendEnabled = 0;
        return;
    }
    const graphics::AlphaBlendData& data = state->data();
    out.blendEnabled = 1;
    out.blendSource = translateBlendFactor(data.sourceFactor);
    out.blendDestination = translateBlendFactor(data.destinationFactor);
    std::memcpy(out.blendColour, data.blendColour, sizeof out.blendColour);
    out.blendEquation = translateBlendEquation(data.equation);
}

} // namespace quern::opengl
