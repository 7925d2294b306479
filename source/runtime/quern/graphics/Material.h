#pragma once
// Materials say how geometry is drawn. A material holds no render states of
// its own: on demand it builds one pass (a Shader) through createShader and
// setUpShader, and keeps it until the material changes. Copies share the pass;
// rebuilding one copy's pass replaces only the state objects that changed, so
// the other copies never see a state they hold being edited.
//
// Reading a material's pass follows one rule: when it is dirty, updateShader
// with the global display, then clear the flag (getShader does both).

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/graphics/renderstate/RenderState.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <string>

namespace quern::assets {
class Depot;
class ResourceCache;
} // namespace quern::assets

namespace quern::graphics {

class Display;
class Shader;
class ShaderProgram;

class Material : public RefCounted {
public:
    // Dirty, no pass.
    Material();
    // Shares other's pass.
    Material(const Material& other);
    Material& operator=(const Material&) = delete;
    ~Material() override;

    // Writes (0, 0, 0, 1) and (0, 0, 1, 1); the arguments are not read.
    virtual void getDefaultValues(const void* a, const void* b, const void* c, f32 first[4], f32 second[4]);
    // This object, or passes whose render states are pairwise equal (both
    // passes are brought up to date first).
    virtual bool equals(Material& other);
    virtual void acquireResources(assets::Depot& depot, assets::ResourceCache& cache);
    // Drops the pass; the next use builds a new one.
    virtual void detach(assets::ResourceCache& cache);
    // A copy of the concrete material (count 0).
    virtual Material* clone() const = 0;
    // A copy without a pass, marked dirty (count 0: the caller takes the first reference).
    virtual Material* makeUnique();
    // The name or "<unnamed material>", then "Shader: " and the pass.
    virtual void print(std::ostream& out);
    virtual Shader* asShader() { return nullptr; }
    // A new pass with no render states.
    virtual Shader* createShader(Display& display);
    // Configures a pass: sets its render states.
    virtual void setUpShader(Shader& shader) = 0;

    // Builds the pass, updates a private one in place, or rebuilds a shared
    // one by copy on write. Leaves the dirty flag as it is.
    void updateShader(Display& display);
    // The pass, brought up to date by the rule above.
    Shader* getShader();

    // The shader program cached under `key` in the material's resource cache
    // (the current cache when it has none), or null when the cache holds no
    // program there. The cache keeps the program alive.
    ShaderProgram* fetchProgram(u64 key) const;
    // The object cached under `key` when it is of `typeId`, from this material's cache or the current one.
    RefCounted* fetchCachedObject(u64 key, u64 typeId) const;

    Shader* shader() const { return m_shader; }
    bool isDirty() const { return m_dirty != 0; }
    void setDirty() { m_dirty = 1; }
    void clearDirty() { m_dirty = 0; }
    assets::ResourceCache* resourceCache() const { return m_resourceCache; }
    void setResourceCache(assets::ResourceCache* cache) { m_resourceCache = cache; }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }
    Ref& ownerRef() { return m_ownerRef; }

protected:
    // Gives the pass's count back (unless the pass is this object) and
    // forgets it; the next use builds a new one.
    void dropShader();
    // For a Shader, whose pass is itself and holds no count.
    void setShaderField(Shader* shader) { m_shader = shader; }

private:
    void rebuildShared(Shader& old);

    Shader* m_shader = nullptr;
    assets::ResourceCache* m_resourceCache = nullptr;
    u8 m_dirty = 1;
    Ref m_ownerRef;
    std::string m_name;
};

// Collects the render states changed while a pass is rebuilt.
class MaterialChangeCollector final : public RenderStateListener {
public:
    MaterialChangeCollector();
    ~MaterialChangeCollector() override;
    MaterialChangeCollector(const MaterialChangeCollector&) = delete;
    MaterialChangeCollector& operator=(const MaterialChangeCollector&) = delete;

    void onChanged(RenderState* state) override;
    bool contains(const RenderState* state) const;
    u64 count() const { return m_states.count(); }

private:
    containers::Array m_states;
};

} // namespace quern::graphics
