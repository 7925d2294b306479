#include "quern/graphics/Material.h"

#include "quern/assets/ResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/platform/ErrorReporting.h"

#include <ostream>

namespace quern::graphics {

namespace {

void retainShader(Shader* shader) { RefCounted::retain(static_cast<RefCounted*>(shader)); }
void releaseShader(Shader* shader) { RefCounted::release(static_cast<RefCounted*>(shader)); }

// No holder but this material, and no state held elsewhere.
bool isPrivate(const Shader& pass)
{
    if (pass.refCount() > 1)
        return false;
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderState* state = pass.renderState(static_cast<RenderStateID>(i));
        if (state && state->refCount() > 1)
            return false;
    }
    return true;
}

} // namespace

Material::Material() = default;

Material::Material(const Material& other)
    : RefCounted(0), m_shader(other.m_shader), m_resourceCache(other.m_resourceCache), m_dirty(other.m_dirty),
      m_ownerRef(other.m_ownerRef), m_name(other.m_name)
{
    if (m_shader)
        retainShader(m_shader);
}

Material::~Material()
{
    if (m_shader && static_cast<Material*>(m_shader) != this)
        releaseShader(m_shader);
    m_shader = nullptr;
    m_dirty = 1;
}

void Material::getDefaultValues(const void*, const void*, const void*, f32 first[4], f32 second[4])
{
    first[0] = 0.0f;
    first[1] = 0.0f;
    first[2] = 0.0f;
    first[3] = 1.0f;
    second[0] = 0.0f;
    second[1] = 0.0f;
    second[2] = 1.0f;
    second[3] = 1.0f;
}

bool Material::equals(Material& other)
{
    if (&other == this)
        return true;
    Shader* mine = getShader();
    Shader* theirs = other.getShader();
    if (!mine || !theirs)
        return mine == theirs;
    return mine->equals(*theirs);
}

void Material::acquireResources(assets::Depot&, assets::ResourceCache&) {}

void Material::detach(assets::ResourceCache&) { dropShader(); }

Material* Material::makeUnique()
{
    Material* copy = clone();
    copy->dropShader();
    return copy;
}

void Material::print(std::ostream& out)
{
    out << (m_name.empty() ? "<unnamed material>" : m_name) << '\n' << "Shader: ";
    if (Shader* pass = getShader())
        pass->print(out);
    out << '\n';
}

Shader* Material::createShader(Display&) { return new Shader(); }

Shader* Material::getShader()
{
    if (m_dirty) {
        updateShader(*Display::get());
        m_dirty = 0;
    }
    return m_shader;
}

void Material::dropShader()
{
    if (m_shader && static_cast<Material*>(m_shader) != this)
        releaseShader(m_shader);
    m_shader = nullptr;
    m_dirty = 1;
}

void Material::updateShader(Display& display)
{
    if (!m_shader) {
        Shader* pass = createShader(display);
        if (!pass)
            QUERN_FATAL("Material made no shader");
        m_shader = pass;
        const bool own = static_cast<Material*>(pass) != this;
        if (own) {
            pass->setName(m_name);
            retainShader(pass);
        }
        setUpShader(*pass);
        return;
    }
    if (static_cast<Material*>(m_shader) == this)
        return;
    if (isPrivate(*m_shader)) {
        setUpShader(*m_shader);
        return;
    }
    rebuildShared(*m_shader);
}

// The pass, or one of its states, is held elsewhere: set up a fresh pass over
// clones of the old states, watch which states setUpShader replaced or
// changed, and put only those into a pass nobody else holds.
void Material::rebuildShared(Shader& old)
{
    debug::softAssert("Just testing", "", __FILE__, __LINE__);
    Display& display = *Display::get();
    Shader* rebuilt = createShader(display);
    if (!rebuilt)
        QUERN_FATAL("Material made no shader");
    retainShader(rebuilt);

    MaterialChangeCollector collector;
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderStateID id = static_cast<RenderStateID>(i);
        if (RenderState* state = old.renderState(id)) {
            RenderState* copy = state->clone();
            RefCounted::retain(copy);
            copy->setListener(&collector);
            rebuilt->setRenderState(id, copy);
            RefCounted::release(copy);
        }
    }
    Shader* before = rebuilt->clone(); // shares the clones as they are now
    retainShader(before);

    setUpShader(*rebuilt);

    Shader* target = old.refCount() > 1 ? old.clone() : &old;
    retainShader(target);
    bool changed = false;
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        const RenderStateID id = static_cast<RenderStateID>(i);
        RenderState* state = rebuilt->renderState(id);
        RenderState* held = target->renderState(id);
        if (state) {
            state->setListener(nullptr);
            if (!held || state != before->renderState(id) || collector.contains(state)) {
                target->setRenderState(id, state);
                changed = true;
            }
        } else if (held) {
            target->setRenderState(id, nullptr);
            changed = true;
        }
    }
    if (changed && target != m_shader) {
        releaseShader(m_shader);
        m_shader = target;
        retainShader(target);
    }
    releaseShader(target);
    releaseShader(before);
    releaseShader(rebuilt);
}

RefCounted* Material::fetchCachedObject(u64 key, u64 typeId) const
{
    assets::ResourceCache* cache = m_resourceCache ? m_resourceCache : assets::ResourceCache::current();
    if (!cache || key == 0)
        return nullptr;
    const u32 handle = cache->acquire(key);
    if (!handle)
        return nullptr;
    u64 foundType = 0;
    void* object = cache->entry(handle, foundType);
    cache->release(handle);
    if (!object || foundType != typeId)
        return nullptr;
    return static_cast<RefCounted*>(object);
}

ShaderProgram* Material::fetchProgram(u64 key) const
{
    return static_cast<ShaderProgram*>(fetchCachedObject(key, assets::ResourceType::ShaderProgram));
}

MaterialChangeCollector::MaterialChangeCollector() : m_states(sizeof(RenderState*), alignof(RenderState*)) {}

MaterialChangeCollector::~MaterialChangeCollector() { m_states.release(); }

void MaterialChangeCollector::onChanged(RenderState* state)
{
    if (!contains(state))
        m_states.append(state);
}

bool MaterialChangeCollector::contains(const RenderState* state) const
{
    for (u64 i = 0; i < m_states.count(); ++i)
        if (m_states.at<RenderState*>(i) == state)
            return true;
    return false;
}

} // namespace quern::graphics
