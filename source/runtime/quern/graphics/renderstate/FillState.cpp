#include "quern/graphics/renderstate/FillState.h"

namespace quern::graphics {

FillState::FillState(StateObjectCache* cache) : PlainRenderState(cache)
{
    m_data.lineWidth = 1.0f;
    m_data.colourWriteMask = 0xffffffffu;
}

} // namespace quern::graphics
