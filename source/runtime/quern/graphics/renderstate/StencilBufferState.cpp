#include "quern/graphics/renderstate/StencilBufferState.h"

namespace quern::graphics {

StencilBufferState::StencilBufferState(StateObjectCache* cache) : PlainRenderState(cache)
{
    m_data.mask = 1;
    m_data.enabled = 1;
}

} // namespace quern::graphics
