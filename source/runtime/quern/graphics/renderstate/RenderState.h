#pragma once
// Render states: small reference-counted values that a Shader (one pass of a
// material) holds, one per kind. Shaders share them and copy them on write;
// every change of a state's data tells its state-object cache, which rebuilds
// the device objects made from it, and the listener a material sets while it
// rebuilds its pass.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>

namespace quern::graphics {

class RenderState;
class Shader;
class StateObjectCache;

enum class RenderStateID : u32 {
    AlphaBlendState = 0,
    CullState = 1,
    DepthBufferState = 2,
    FillState = 3,
    LogicalBlendState = 4,
    ShaderProgramState = 5,
    StencilBufferState = 6,
    TextureState = 7,
};

inline constexpr u32 kRenderStateCount = 8;

// The kind's name, null for a value outside the table.
const char* renderStateName(RenderStateID id);

enum class Comparison : u8 {
    Always = 0,
    Less = 1,
    LessOrEqual = 2,
    Greater = 3,
    GreaterOrEqual = 4,
    Equal = 5,
    NotEqual = 6,
    Never = 7,
};

// Told after every change of a state's data.
class RenderStateListener {
public:
    virtual ~RenderStateListener() = default;
    virtual void onChanged(RenderState* state) = 0;
};

class RenderState : public RefCounted {
public:
    // A new state of that kind with its defaults, bound to `cache` (may be
    // null); an invalid id is fatal.
    static RenderState* create(RenderStateID id, StateObjectCache* cache);

    // A new state of the same kind with equal data and the same cache, but no
    // listener and no owner. Texture and program handles are retained again.
    RenderState* clone() const;

    // Whether the device state built from `other` could differ from this one's.
    virtual bool differs(const RenderState& other) const = 0;
    // Same object, or same kind with equal data.
    virtual bool equals(const RenderState& other) const = 0;
    // MurmurHash2 of the kind's data; 0 for the kinds that have none.
    virtual u32 hash() const = 0;
    // Takes other's data (a state of the same kind).
    virtual void assign(const RenderState& other) = 0;
    // The kind's name, ": " and the address.
    virtual void print(std::ostream& out) const;

    RenderStateID kind() const { return m_kind; }
    StateObjectCache* cache() const { return m_cache; }
    RenderStateListener* listener() const { return m_listener; }
    void setListener(RenderStateListener* listener) { m_listener = listener; }
    // The Shader whose cache entries this state's changes dirty; remembered
    // by the cache, cleared when that Shader lets the state go.
    Shader* owner() const { return m_owner; }
    void setOwner(Shader* owner) { m_owner = owner; }

protected:
    RenderState(RenderStateID kind, StateObjectCache* cache) : m_kind(kind), m_cache(cache) {}
    // For clones: same kind and cache, nothing else.
    RenderState(const RenderState& other) : RefCounted(0), m_kind(other.m_kind), m_cache(other.m_cache) {}

    // After a change of the data: marks the state dirty in its cache and
    // tells the listener.
    void notifyChanged();
    // The first step of assigning from another state: take its cache and
    // listener, then announce the change. Fatal when the kinds differ.
    void bindLike(const RenderState& other);
    void checkSameKind(const RenderState& other) const;

private:
    RenderStateID m_kind;
    StateObjectCache* m_cache;
    RenderStateListener* m_listener = nullptr;
    Shader* m_owner = nullptr;
};

} // namespace quern::graphics
