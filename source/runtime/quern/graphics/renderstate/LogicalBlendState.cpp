#include "quern/graphics/renderstate/LogicalBlendState.h"

namespace quern::graphics {

LogicalBlendState::LogicalBlendState(StateObjectCache* cache) : PlainRenderState(cache)
{
    m_data.operation = static_cast<u8>(BlendOperation::Or);
}

} // namespace quern::graphics
