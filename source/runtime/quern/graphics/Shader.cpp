#include "quern/graphics/Shader.h"

#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/platform/ErrorReporting.h"

#include <ostream>

namespace quern::graphics {

namespace {

u32 checkedIndex(RenderStateID id)
{
    const u32 index = static_cast<u32>(id);
    if (index >= kRenderStateCount)
        QUERN_FATAL_INVALID_ENUM("RenderStateID");
    return index;
}

} // namespace

Shader::Shader() = default;

Shader::Shader(const Shader& other) : Material(other), m_cache(other.m_cache)
{
    // The material copy counted on other's pass, which for a Shader is other
    // itself: give it back, the copy starts without a pass.
    if (Shader* pass = shader()) {
        RefCounted::decrementRef(static_cast<RefCounted*>(pass));
        setShaderField(nullptr);
    }
    setDirty();
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        m_states[i] = other.m_states[i];
        if (m_states[i])
            RefCounted::retain(static_cast<RefCounted*>(m_states[i]));
    }
}

Shader::~Shader()
{
    if (m_cache && StateObjectCache::isLive(m_cache))
        m_cache->removeShader(this);
    for (u32 i = kRenderStateCount; i-- > 0;) {
        RenderState* state = m_states[i];
        if (!state)
            continue;
        m_states[i] = nullptr;
        if (state->owner() == this)
            state->setOwner(nullptr);
        RefCounted::release(static_cast<RefCounted*>(state));
    }
    // The material part must not take its pass (this object) for a shared one.
    setShaderField(nullptr);
}

Shader* Shader::createDefault(StateObjectCache* cache)
{
    Shader* shader = new Shader();
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderStateID id = static_cast<RenderStateID>(i);
        shader->setRenderState(id, RenderState::create(id, cache));
    }
    shader->m_cache = cache;
    return shader;
}

bool Shader::equals(Material& other)
{
    if (&other == this)
        return true;
    const Shader* that = other.asShader();
    if (!that)
        return false;
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderState* mine = m_states[i];
        const RenderState* theirs = that->m_states[i];
        if (!mine && !theirs)
            continue;
        if (!mine || !theirs || !mine->equals(*theirs))
            return false;
    }
    return true;
}

Shader* Shader::makeUnique()
{
    Shader* copy = clone();
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        if (RenderState* state = copy->m_states[i])
            copy->setRenderState(static_cast<RenderStateID>(i), state->clone());
    }
    return copy;
}

void Shader::print(std::ostream& out)
{
    out << (name().empty() ? "<unnamed shader>" : name());
    for (const RenderState* state : m_states) {
        if (!state)
            continue;
        out << "\n---\n";
        state->print(out);
    }
}

void Shader::setUpShader(Shader& shader)
{
    if (!shader.usesTransparency())
        return;
    const RenderState* depth = shader.renderState(RenderStateID::DepthBufferState);
    if (!depth || static_cast<const DepthBufferState*>(depth)->isWriteEnabled())
        QUERN_LOG(2) << "Shader uses transparency but has depthbuffer writes enabled!" << std::endl;
}

void Shader::overlay(const Shader& override, Shader& out) const
{
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        RenderState* state = override.m_states[i] ? override.m_states[i] : m_states[i];
        out.setRenderState(static_cast<RenderStateID>(i), state);
    }
}

void Shader::mergeStates(const Shader& other)
{
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderState* theirs = other.m_states[i];
        if (!theirs)
            continue;
        RenderState* mine = m_states[i];
        if (mine == theirs || (mine && mine->equals(*theirs)))
            continue;
        RenderState* replacement = nullptr;
        if (!mine) {
            replacement = theirs->clone();
        } else {
            replacement = mine->clone();
            replacement->assign(*theirs);
        }
        setRenderState(static_cast<RenderStateID>(i), replacement);
    }
}

bool Shader::usesTransparency() const
{
    const RenderState* state = m_states[static_cast<u32>(RenderStateID::AlphaBlendState)];
    if (!state)
        return false;
    const AlphaBlendState* blend = static_cast<const AlphaBlendState*>(state);
    return blend->isEnabled() && blend->destinationFactor() != AlphaBlendState::BlendFactor::Zero;
}

RenderState* Shader::renderState(RenderStateID id) const { return m_states[checkedIndex(id)]; }

void Shader::setRenderState(RenderStateID id, RenderState* state)
{
    const u32 index = checkedIndex(id);
    RenderState* old = m_states[index];
    if (old == state)
        return;
    if (state) {
        RefCounted::retain(static_cast<RefCounted*>(state));
        StateObjectCache* cache = state->cache();
        // Entries left in another cache would outlive this Shader there.
        if (m_cache && m_cache != cache && StateObjectCache::isLive(m_cache))
            m_cache->removeShader(this);
        m_cache = cache;
    }
    m_states[index] = state;
    if (old) {
        if (old->owner() == this)
            old->setOwner(nullptr);
        RefCounted::release(static_cast<RefCounted*>(old));
    }
    // The device state built from the old object no longer matches.
    if (m_cache && StateObjectCache::isLive(m_cache))
        m_cache->markShaderDirty(this);
}

void Shader::setCullState(CullState* state) { setRenderState(RenderStateID::CullState, state); }

void Shader::setDepthBufferState(DepthBufferState* state) { setRenderState(RenderStateID::DepthBufferState, state); }

void Shader::setShaderProgramState(ShaderProgramState* state)
{
    setRenderState(RenderStateID::ShaderProgramState, state);
}

void Shader::setTextureState(TextureState* state) { setRenderState(RenderStateID::TextureState, state); }

RenderState* Shader::stateOrDefault(RenderStateID id)
{
    const u32 index = checkedIndex(id);
    if (!m_states[index]) {
        StateObjectCache* cache = m_cache ? m_cache : Display::get()->context().stateObjectCache;
        setRenderState(id, RenderState::create(id, cache));
    }
    return m_states[index];
}

AlphaBlendState* Shader::getAlphaBlendState()
{
    return static_cast<AlphaBlendState*>(stateOrDefault(RenderStateID::AlphaBlendState));
}

CullState* Shader::getCullState() { return static_cast<CullState*>(stateOrDefault(RenderStateID::CullState)); }

DepthBufferState* Shader::getDepthBufferState()
{
    return static_cast<DepthBufferState*>(stateOrDefault(RenderStateID::DepthBufferState));
}

FillState* Shader::getFillState() { return static_cast<FillState*>(stateOrDefault(RenderStateID::FillState)); }

ShaderProgramState* Shader::getShaderProgramState()
{
    return static_cast<ShaderProgramState*>(stateOrDefault(RenderStateID::ShaderProgramState));
}

TextureState* Shader::getTextureState()
{
    return static_cast<TextureState*>(stateOrDefault(RenderStateID::TextureState));
}

} // namespace quern::graphics
