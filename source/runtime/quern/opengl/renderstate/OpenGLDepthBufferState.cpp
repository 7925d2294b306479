#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLStateObject.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/platform/ErrorReporting.h"
#include <cstring>
#include <iterator>

namespace quern::opengl {

u32 translateComparison(u8 comparison)
{
    static constexpr u32 kFunctions[] = {
        GL_ALWAYS,
        GL_LESS,
        GL_LEQUAL,
        GL_GREATER,
        GL_GEQUAL,
        GL_EQUAL,
        GL_NOTEQUAL,
        GL_NEVER,
    };
    if (comparison >= std::size(kFunctions))
        QUERN_FATAL_INVALID_ENUM("Comparison");
    return kFunctions[comparison];
}

u32 translateStencilOperation(u8 operation)
{
    // The engine's states never hold a value outside the table.
    static constexpr u32 kOperations[] = { GL_KEEP, GL_ZERO, GL_REPLACE, GL_INCR, GL_DECR, GL_INVERT };
    return operation < std::size(kOperations) ? kOperations[operation] : GL_KEEP;
}

void translateCull(const graphics::CullState* state, OpenGLStateObject& out)
{
    if (!state) {
        out.cullFace = GL_BACK;
        out.scissorEnabled = 0;
        return;
    }
    const graphics::CullData& data = state->data();
    out.cullFace = data.cullMode == graphics::CullState::CullFrontFaces ? GL_FRONT
        : data.cullMode == graphics::CullState::CullBackFaces           ? GL_BACK
                                                                        : 0;
    out.scissorEnabled = data.scissorEnabled ? 1 : 0;
    std::memcpy(out.scissor, data.scissor, sizeof out.scissor);
}

void translateDepthBuffer(const graphics::DepthBufferState* state, OpenGLStateObject& out)
{
    if (!state) {
        out.depthTestEnabled = 1;
        out.depthWriteEnabled = 1;
        out.polygonOffsetEnabled = 0;
        out.depthFunction = GL_LESS;
        return;
    }
    const graphics::DepthBufferData& data = state->data();
    out.depthTestEnabled = data.testEnabled ? 1 : 0;
    // With the test off the function is never sent, so it keeps what it had.
    if (data.testEnabled)
        out.depthFunction = translateComparison(data.comparison);
    out.depthWriteEnabled = data.writeEnabled ? 1 : 0;
    out.polygonOffsetEnabled = data.offsetFactor != 0.0f || data.offsetUnits != 0.0f;
    if (out.polygonOffsetEnabled) {
        out.polygonOffsetFactor = data.offsetFactor;
        out.polygonOffsetUnits = data.offsetUnits;
    }
}

void translateStencilBuffer(const graphics::StencilBufferState* state, OpenGLStateObject& out)
{
    if (!state || !state->isEnabled()) {
        out.stencilEnabled = 0;
        return;
    }
    const graphics::StencilBufferData& data = state->data();
    out.stencilEnabled = 1;
    out.stencilFunction = translateComparison(data.comparison);
    out.stencilReference = data.reference;
    out.stencilMask = data.mask;
    out.stencilFail = translateStencilOperation(data.failOperation);
    out.stencilDepthFail = translateStencilOperation(data.depthFailOperation);
    out.stencilPass = translateStencilOperation(data.passOperation);
}

} // namespace quern::opengl
