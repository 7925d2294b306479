#pragma once
// A Shader is one render pass: a material that holds one render state per
// kind and the state-object cache that turns them into device state. Shaders
// share state objects and replace them instead of editing them, so a state a
// Shader holds may be held by others too.

#include "quern/graphics/Material.h"
#include "quern/graphics/renderstate/RenderState.h"

namespace quern::graphics {

class AlphaBlendState;
class CullState;
class DepthBufferState;
class FillState;
class ShaderProgramState;
class StateObjectCache;
class TextureState;

class Shader : public Material {
public:
    // No render states, no cache; dirty.
    Shader();
    // Shares other's state objects and cache; no pass of its own yet, dirty.
    Shader(const Shader& other);
    // Removes its cache entries, lets its states go (forgetting itself as
    // their owner), then the material part.
    ~Shader() override;

    // Eight default states bound to `cache`, and linked to it.
    static Shader* createDefault(StateObjectCache* cache);

    void getDefaultValues(const void*, const void*, const void*, f32[4], f32[4]) override {}
    // Same object, or every kind empty on both sides or set and equal.
    bool equals(Material& other) override;
    void acquireResources(assets::Depot&, assets::ResourceCache&) override {}
    Shader* clone() const override { return new Shader(*this); }
    // A clone whose states are copies of its own.
    Shader* makeUnique() override;
    // The name or "<unnamed shader>", then "---" and each state's line.
    void print(std::ostream& out) override;
    Shader* asShader() override { return this; }
    Shader* createShader(Display&) override { return this; }
    // Warns when the pass blends but writes depth.
    void setUpShader(Shader& shader) override;

    // Called when a draw with this pass ends.
    virtual void finishDraw() {}
    // `out` takes override's state of each kind it has, else this one's.
    virtual void overlay(const Shader& override, Shader& out) const;
    // Takes other's states by copy on write: where other has a state this
    // one lacks, a clone of it; where both have unequal states, a clone of
    // this one's with other's data. A held state is never changed.
    virtual void mergeStates(const Shader& other);
    // An enabled blend state whose destination factor is not zero.
    virtual bool usesTransparency() const;
    virtual u32 passCount() const { return 1; }

    RenderState* renderState(RenderStateID id) const;
    // Holds `state` (retained; null empties the kind) and links the Shader to
    // the state's cache. A Shader whose state objects change has its device
    // state rebuilt at the next lookup.
    void setRenderState(RenderStateID id, RenderState* state);
    void setCullState(CullState* state);
    void setDepthBufferState(DepthBufferState* state);
    void setShaderProgramState(ShaderProgramState* state);
    void setTextureState(TextureState* state);

    // The state of a kind, made with its defaults on first use (for the
    // Shader's cache, or the global display's when it has none).
    AlphaBlendState* getAlphaBlendState();
    CullState* getCullState();
    DepthBufferState* getDepthBufferState();
    FillState* getFillState();
    ShaderProgramState* getShaderProgramState();
    TextureState* getTextureState();

    StateObjectCache* stateObjectCache() const { return m_cache; }

private:
    RenderState* stateOrDefault(RenderStateID id);

    RenderState* m_states[kRenderStateCount] = {};
    StateObjectCache* m_cache = nullptr;
};

} // namespace quern::graphics
