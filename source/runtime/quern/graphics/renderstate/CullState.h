#pragma once
// Face culling and the scissor rectangle.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct CullData {
    i32 scissor[4]; // x, y, width, height
    u8 scissorEnabled;
    u8 cullMode;
    u8 spare[2];
};
static_assert(sizeof(CullData) == 20);

class CullState final : public PlainRenderState<CullData, RenderStateID::CullState, true> {
public:
    enum CullMode : u8 {
        CullNone = 0,
        CullFrontFaces = 1,
        CullBackFaces = 2,
    };

    // Back faces culled, no scissor.
    explicit CullState(StateObjectCache* cache);
    CullState(const CullState& other) = default;

    void setScissorEnabled(bool enabled) { setField(&CullData::scissorEnabled, enabled ? 1 : 0); }
    void setCullMode(u8 mode) { setField(&CullData::cullMode, mode); }
    void setScissor(i32 x, i32 y, i32 width, i32 height);

    bool isScissorEnabled() const { return m_data.scissorEnabled != 0; }
    u8 cullMode() const { return m_data.cullMode; }
    const i32* scissor() const { return m_data.scissor; }
};

} // namespace quern::graphics
