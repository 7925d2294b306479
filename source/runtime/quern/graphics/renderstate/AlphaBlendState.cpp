#include "quern/graphics/renderstate/AlphaBlendState.h"

#include <cstring>

namespace quern::graphics {

AlphaBlendState::AlphaBlendState(StateObjectCache* cache) : PlainRenderState(cache)
{
    for (f32& channel : m_data.blendColour)
        channel = 1.0f;
    m_data.sourceFactor = static_cast<u8>(BlendFactor::One);
    m_data.destinationFactor = static_cast<u8>(BlendFactor::Zero);
    m_data.equation = static_cast<u8>(BlendEquation::Add);
    m_data.enabled = 0;
}

void AlphaBlendState::setBlendColour(const f32 colour[4])
{
    if (std::memcmp(m_data.blendColour, colour, sizeof(m_data.blendColour)) == 0)
        return;
    std::memcpy(m_data.blendColour, colour, sizeof(m_data.blendColour));
    notifyChanged();
}

} // namespace quern::graphics
