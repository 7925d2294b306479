#pragma once
// Polygon fill mode, line width and smoothing, and which colour channels are
// written.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct FillData {
    f32 lineWidth;
    // Bits 24-31 red, 16-23 green, 8-15 blue, 0-7 alpha: a channel is
    // written when its byte is 255.
    u32 colourWriteMask;
    u8 fillMode;
    u8 lineSmoothing;
    u8 spare[2];
};
static_assert(sizeof(FillData) == 12);

class FillState final : public PlainRenderState<FillData, RenderStateID::FillState, false> {
public:
    enum class FillMode : u8 {
        Filled = 0,
        Lines = 1,
        Points = 2,
    };

    // Filled, line width 1, every channel written, no smoothing.
    explicit FillState(StateObjectCache* cache);
    FillState(const FillState& other) = default;

    void setLineWidth(f32 width) { setField(&FillData::lineWidth, width); }
    void setColourWriteMask(u32 mask) { setField(&FillData::colourWriteMask, mask); }
    void setFillMode(FillMode mode) { setField(&FillData::fillMode, mode); }
    void setLineSmoothing(bool enabled) { setField(&FillData::lineSmoothing, enabled ? 1 : 0); }

    f32 lineWidth() const { return m_data.lineWidth; }
    u32 colourWriteMask() const { return m_data.colourWriteMask; }
    FillMode fillMode() const { return static_cast<FillMode>(m_data.fillMode); }
    bool hasLineSmoothing() const { return m_data.lineSmoothing != 0; }
};

} // namespace quern::graphics
