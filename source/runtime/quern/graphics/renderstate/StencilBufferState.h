#pragma once
// The stencil test and what it does to the stencil buffer.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct StencilBufferData {
    u32 mask;
    u8 reference;
    u8 enabled;
    u8 comparison;
    u8 failOperation;
    u8 depthFailOperation;
    u8 passOperation;
    u8 spare[2];
};
static_assert(sizeof(StencilBufferData) == 12);

class StencilBufferState final : public PlainRenderState<StencilBufferData, RenderStateID::StencilBufferState, false> {
public:
    enum class Operation : u8 {
        Keep = 0,
        Zero = 1,
        Replace = 2,
        Increment = 3,
        Decrement = 4,
        Invert = 5,
    };

    // Enabled, mask 1, reference 0, comparison "always", every operation "keep".
    explicit StencilBufferState(StateObjectCache* cache);
    StencilBufferState(const StencilBufferState& other) = default;

    void setEnabled(bool enabled) { setField(&StencilBufferData::enabled, enabled ? 1 : 0); }
    void setMask(u32 mask) { setField(&StencilBufferData::mask, mask); }
    void setReference(u8 reference) { setField(&StencilBufferData::reference, reference); }
    void setComparison(Comparison comparison) { setField(&StencilBufferData::comparison, comparison); }
    void setFailOperation(Operation operation) { setField(&StencilBufferData::failOperation, operation); }
    void setDepthFailOperation(Operation operation) { setField(&StencilBufferData::depthFailOperation, operation); }
    void setPassOperation(Operation operation) { setField(&StencilBufferData::passOperation, operation); }

    bool isEnabled() const { return m_data.enabled != 0; }
    u32 mask() const { return m_data.mask; }
    u8 reference() const { return m_data.reference; }
    Comparison comparison() const { return static_cast<Comparison>(m_data.comparison); }
    Operation failOperation() const { return static_cast<Operation>(m_data.failOperation); }
    Operation depthFailOperation() const { return static_cast<Operation>(m_data.depthFailOperation); }
    Operation passOperation() const { return static_cast<Operation>(m_data.passOperation); }
};

} // namespace quern::graphics
