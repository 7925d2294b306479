#pragma once
// A logical operation between the drawn colour and the target's.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct LogicalBlendData {
    u8 enabled;
    u8 operation;
};
static_assert(sizeof(LogicalBlendData) == 2);

class LogicalBlendState final : public PlainRenderState<LogicalBlendData, RenderStateID::LogicalBlendState, false> {
public:
    enum class BlendOperation : u8 {
        Clear = 0,
        Set = 1,
        Copy = 2,
        CopyInverted = 3,
        NoOp = 4,
        Invert = 5,
        And = 6,
        Nand = 7,
        Or = 8,
        Nor = 9,
        Xor = 10,
        Equivalent = 11,
        AndReverse = 12,
        AndInverted = 13,
        OrReverse = 14,
        OrInverted = 15,
    };

    // Disabled, operation "or".
    explicit LogicalBlendState(StateObjectCache* cache);
    LogicalBlendState(const LogicalBlendState& other) = default;

    void setEnabled(bool enabled) { setField(&LogicalBlendData::enabled, enabled ? 1 : 0); }
    void setOperation(BlendOperation operation) { setField(&LogicalBlendData::operation, operation); }

    bool isEnabled() const { return m_data.enabled != 0; }
    BlendOperation operation() const { return static_cast<BlendOperation>(m_data.operation); }
};

} // namespace quern::graphics
