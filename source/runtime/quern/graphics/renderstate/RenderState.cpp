#include "quern/graphics/renderstate/RenderState.h"

#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/platform/ErrorReporting.h"

#include <ostream>

namespace quern::graphics {

const char* renderStateName(RenderStateID id)
{
    static const char* const kNames[kRenderStateCount] = {
        "AlphaBlendState",   "CullState",          "DepthBufferState", "FillState",
        "LogicalBlendState", "ShaderProgramState", "StencilBufferState", "TextureState",
    };
    const u32 index = static_cast<u32>(id);
    return index < kRenderStateCount ? kNames[index] : nullptr;
}

RenderState* RenderState::create(RenderStateID id, StateObjectCache* cache)
{
    switch (id) {
    case RenderStateID::AlphaBlendState: return new AlphaBlendState(cache);
    case RenderStateID::CullState: return new CullState(cache);
    case RenderStateID::DepthBufferState: return new DepthBufferState(cache);
    case RenderStateID::FillState: return new FillState(cache);
    case RenderStateID::LogicalBlendState: return new LogicalBlendState(cache);
    case RenderStateID::ShaderProgramState: return new ShaderProgramState(cache);
    case RenderStateID::StencilBufferState: return new StencilBufferState(cache);
    case RenderStateID::TextureState: return new TextureState(cache);
    }
    QUERN_FATAL_INVALID_ENUM("RenderStateID");
}

RenderState* RenderState::clone() const
{
    switch (m_kind) {
    case RenderStateID::AlphaBlendState: return new AlphaBlendState(static_cast<const AlphaBlendState&>(*this));
    case RenderStateID::CullState: return new CullState(static_cast<const CullState&>(*this));
    case RenderStateID::DepthBufferState: return new DepthBufferState(static_cast<const DepthBufferState&>(*this));
    case RenderStateID::FillState: return new FillState(static_cast<const FillState&>(*this));
    case RenderStateID::LogicalBlendState:
        return new LogicalBlendState(static_cast<const LogicalBlendState&>(*this));
    case RenderStateID::ShaderProgramState:
        return new ShaderProgramState(static_cast<const ShaderProgramState&>(*this));
    case RenderStateID::StencilBufferState:
        return new StencilBufferState(static_cast<const StencilBufferState&>(*this));
    case RenderStateID::TextureState: return new TextureState(static_cast<const TextureState&>(*this));
    }
    QUERN_FATAL_INVALID_ENUM("RenderStateID");
}

void RenderState::print(std::ostream& out) const
{
    out << renderStateName(m_kind) << ": " << static_cast<const void*>(this);
}

void RenderState::notifyChanged()
{
    if (m_cache)
        m_cache->markDirty(this);
    if (m_listener)
        m_listener->onChanged(this);
}

void RenderState::checkSameKind(const RenderState& other) const
{
    if (other.m_kind != m_kind)
        QUERN_FATAL("Can't assign a render state of another kind");
}

void RenderState::bindLike(const RenderState& other)
{
    checkSameKind(other);
    m_cache = other.m_cache;
    m_listener = other.m_listener;
    notifyChanged();
}

} // namespace quern::graphics
