#pragma once
// Blending of the drawn colour with the target's.

#include "quern/graphics/renderstate/PlainRenderState.h"

namespace quern::graphics {

struct AlphaBlendData {
    f32 blendColour[4];
    u8 sourceFactor;
    u8 destinationFactor;
    u8 equation;
    u8 enabled;
};
static_assert(sizeof(AlphaBlendData) == 20);

class AlphaBlendState final : public PlainRenderState<AlphaBlendData, RenderStateID::AlphaBlendState, true> {
public:
    enum class BlendFactor : u8 {
        Zero = 0,
        One = 1,
        SourceColour = 2,
        OneMinusSourceColour = 3,
        SourceAlpha = 4,
        OneMinusSourceAlpha = 5,
        DestinationColour = 6,
        OneMinusDestinationColour = 7,
        DestinationAlpha = 8,
        OneMinusDestinationAlpha = 9,
        ConstantColour = 10,
        OneMinusConstantColour = 11,
        ConstantAlpha = 12,
        OneMinusConstantAlpha = 13,
        SourceAlphaSaturate = 14,
    };
    enum class BlendEquation : u8 {
        Add = 0,
        Subtract = 1,
        ReverseSubtract = 2,
        Minimum = 3,
        Maximum = 4,
    };

    // Disabled; colour (1, 1, 1, 1); one times source plus zero times destination.
    explicit AlphaBlendState(StateObjectCache* cache);
    AlphaBlendState(const AlphaBlendState& other) = default;

    void setEnabled(bool enabled) { setField(&AlphaBlendData::enabled, enabled ? 1 : 0); }
    void setSourceFactor(BlendFactor factor) { setField(&AlphaBlendData::sourceFactor, factor); }
    void setDestinationFactor(BlendFactor factor) { setField(&AlphaBlendData::destinationFactor, factor); }
    void setEquation(BlendEquation equation) { setField(&AlphaBlendData::equation, equation); }
    void setBlendColour(const f32 colour[4]);

    bool isEnabled() const { return m_data.enabled != 0; }
    BlendFactor sourceFactor() const { return static_cast<BlendFactor>(m_data.sourceFactor); }
    BlendFactor destinationFactor() const { return static_cast<BlendFactor>(m_data.destinationFactor); }
    BlendEquation equation() const { return static_cast<BlendEquation>(m_data.equation); }
    const f32* blendColour() const { return m_data.blendColour; }
};

} // namespace quern::graphics
