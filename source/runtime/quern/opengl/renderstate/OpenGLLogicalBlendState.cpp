#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/OpenGLStateObject.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"
#include "quern/platform/ErrorReporting.h"
#include <iterator>

namespace quern::opengl {

u32 translateLogicOperation(u8 operation)
{
    static constexpr u32 kOperations[] = {
        GL_CLEAR,
        GL_SET,
        GL_COPY,
        GL_COPY_INVERTED,
        GL_NOOP,
        GL_INVERT,
        GL_AND,
        GL_NAND,
        GL_OR,
        GL_NOR,
        GL_XOR,
        GL_EQUIV,
        GL_AND_REVERSE,
        GL_AND_INVERTED,
        GL_OR_REVERSE,
        GL_OR_INVERTED,
    };
    if (operation >= std::size(kOperations))
        QUERN_FATAL_INVALID_ENUM("LogicalBlendState::BlendOperation");
    return kOperations[operation];
}

void translateLogicalBlend(const graphics::LogicalBlendState* state, OpenGLStateObject& out)
{
    if (!state || !state->isEnabled()) {
        out.logicEnabled = 0;
        return;
    }
    out.logicEnabled = 1;
    out.logicOperation = translateLogicOperation(state->data().operation);
}

} // namespace quern::opengl
