#include "quern/graphics/renderstate/DepthBufferState.h"

namespace quern::graphics {

DepthBufferState::DepthBufferState(StateObjectCache* cache) : PlainRenderState(cache)
{
    m_data.comparison = static_cast<u8>(Comparison::Less);
    m_data.testEnabled = 1;
    m_data.writeEnabled = 1;
}

} // namespace quern::graphics
