#pragma once
// The depth test, depth writes and the polygon depth offset.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct DepthBufferData {
    f32 offsetFactor;
    f32 offsetUnits;
    u8 comparison;
    u8 testEnabled;
    u8 writeEnabled;
    u8 spare;
};
static_assert(sizeof(DepthBufferData) == 12);

class DepthBufferState final : public PlainRenderState<DepthBufferData, RenderStateID::DepthBufferState, true> {
public:
    // Test "less" and writes on, no offset.
    explicit DepthBufferState(StateObjectCache* cache);
    DepthBufferState(const DepthBufferState& other) = default;

    void setTestEnabled(bool enabled) { setField(&DepthBufferData::testEnabled, enabled ? 1 : 0); }
    void setWriteEnabled(bool enabled) { setField(&DepthBufferData::writeEnabled, enabled ? 1 : 0); }
    void setComparison(Comparison comparison) { setField(&DepthBufferData::comparison, comparison); }
    void setOffsetFactor(f32 factor) { setField(&DepthBufferData::offsetFactor, factor); }
    void setOffsetUnits(f32 units) { setField(&DepthBufferData::offsetUnits, units); }

    bool isTestEnabled() const { return m_data.testEnabled != 0; }
    bool isWriteEnabled() const { return m_data.writeEnabled != 0; }
    Comparison comparison() const { return static_cast<Comparison>(m_data.comparison); }
    f32 offsetFactor() const { return m_data.offsetFactor; }
    f32 offsetUnits() const { return m_data.offsetUnits; }
};

} // namespace quern::graphics
