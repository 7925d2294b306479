#include "quern/graphics/renderstate/FillState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLStateObject.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/platform/ErrorReporting.h"
#include <iterator>

namespace quern::opengl {

u32 translateFillMode(u8 mode)
{
    static constexpr u32 kModes[] = { GL_FILL, GL_LINE, GL_POINT };
    if (mode >= std::size(kModes))
        QUERN_FATAL_INVALID_ENUM("FillState::FillMode");
    return kModes[mode];
}

void translateFill(const graphics::FillState* state, OpenGLStateObject& out)
{
    if (!state) {
        out.polygonMode = GL_FILL;
        out.lineWidth = 1.0f;
        for (u8& channel : out.colourMask)
            channel = 1;
        out.lineSmoothing = 0;
        return;
    }
    const graphics::FillData& data = state->data();
    out.polygonMode = translateFillMode(data.fillMode);
    out.lineSmoothing = data.lineSmoothing ? 1 : 0;
    out.lineWidth = data.lineWidth;
    // A channel is written only when its whole byte of the mask is set.
    for (u32 channel = 0; channel < 4; ++channel)
        out.colourMask[channel] = ((data.colourWriteMask >> (24 - 8 * channel)) & 0xff) == 0xff ? 1 : 0;
}

} // namespace quern::opengl
