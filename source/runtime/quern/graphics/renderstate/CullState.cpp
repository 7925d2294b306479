#include "quern/graphics/renderstate/CullState.h"

namespace quern::graphics {

CullState::CullState(StateObjectCache* cache) : PlainRenderState(cache) { m_data.cullMode = CullBackFaces; }

void CullState::setScissor(i32 x, i32 y, i32 width, i32 height)
{
    const i32 rect[4] = {x, y, width, height};
    bool same = true;
    for (u32 i = 0; i < 4; ++i)
        same = same && m_data.scissor[i] == rect[i];
    if (same)
        return;
    for (u32 i = 0; i < 4; ++i)
        m_data.scissor[i] = rect[i];
    notifyChanged();
}

} // namespace quern::graphics
