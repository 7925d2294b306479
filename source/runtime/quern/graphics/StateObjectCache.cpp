#include "quern/graphics/StateObjectCache.h"

#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <cstring>
#include <mutex>

namespace quern::graphics {

namespace {

constexpr u64 kMinIndexCapacity = 64;

// Caches are made and destroyed with displays, rarely; the list is short.
std::mutex g_liveLock;
containers::Array& liveCaches()
{
    static containers::Array caches(sizeof(StateObjectCache*), alignof(StateObjectCache*));
    return caches;
}

u64 slotFor(const Shader* shader, u32 formatHash, u64 mask)
{
    u64 key = reinterpret_cast<uintptr_t>(shader) ^ (static_cast<u64>(formatHash) << 32) ^ formatHash;
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    return key & mask;
}

} // namespace

StateObjectCache::StateObjectCache(GraphicsBackEnd* backEnd)
    : m_defaultShader(new Shader()), m_backEnd(backEnd), m_entries(sizeof(Entry), alignof(Entry)),
      m_index(sizeof(u32), alignof(u32))
{
    RefCounted::retain(static_cast<RefCounted*>(m_defaultShader));
    std::lock_guard<std::mutex> lock(g_liveLock);
    StateObjectCache* self = this;
    liveCaches().append(self);
}

StateObjectCache::~StateObjectCache()
{
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        liveCaches().removeValue(this);
    }
    for (u64 i = 0; i < m_entries.count(); ++i)
        m_backEnd->destroyStateObject(entry(i).handle);
    m_entries.release();
    m_index.release();
    RefCounted::release(static_cast<RefCounted*>(m_defaultShader));
}

bool StateObjectCache::isLive(const StateObjectCache* cache)
{
    std::lock_guard<std::mutex> lock(g_liveLock);
    const containers::Array& caches = liveCaches();
    for (u64 i = 0; i < caches.count(); ++i)
        if (caches.at<StateObjectCache*>(i) == cache)
            return true;
    return false;
}

void StateObjectCache::markDirty(RenderState* state)
{
    Entry* entries = m_entries.dataAs<Entry>();
    const u64 count = m_entries.count();
    if (const Shader* owner = state->owner()) {
        for (u64 i = 0; i < count; ++i)
            if (entries[i].shader == owner)
                entries[i].dirty = 1;
        return;
    }
    for (u64 i = 0; i < count; ++i) {
        if (entries[i].shader->renderState(state->kind()) == state) {
            state->setOwner(entries[i].shader);
            entries[i].dirty = 1;
        }
    }
}

void StateObjectCache::markShaderDirty(const Shader* shader)
{
    Entry* entries = m_entries.dataAs<Entry>();
    for (u64 i = 0; i < m_entries.count(); ++i)
        if (entries[i].shader == shader)
            entries[i].dirty = 1;
}

u64 StateObjectCache::find(const Shader* shader, u32 formatHash) const
{
    const u64 capacity = m_index.count();
    if (capacity == 0)
        return kNone;
    const u32* slots = m_index.dataAs<u32>();
    const Entry* entries = m_entries.dataAs<Entry>();
    for (u64 slot = slotFor(shader, formatHash, capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
        const u32 stored = slots[slot];
        if (stored == 0)
            return kNone;
        const Entry& candidate = entries[stored - 1];
        if (candidate.shader == shader && candidate.vertexFormatHash == formatHash)
            return stored - 1;
    }
}

u32 StateObjectCache::getStateObject(Shader* shader, const VertexFormat* format)
{
    const u32 formatHash = format ? format->hash : 0;
    const u64 found = find(shader, formatHash);
    if (found != kNone) {
        Entry& existing = m_entries.at<Entry>(found);
        if (existing.dirty) {
            m_backEnd->createStateObject(existing.handle, shader, format);
            existing.dirty = 0;
        }
        return existing.handle;
    }
    const u32 handle = m_backEnd->allocateStateObject();
    m_backEnd->createStateObject(handle, shader, format);
    const Entry added{shader, formatHash, handle, 0};
    m_entries.append(added);
    // Keep the index at most half full.
    if (m_entries.count() * 2 > m_index.count())
        rebuildIndex(m_index.count() ? m_index.count() * 2 : kMinIndexCapacity);
    else
        insertIntoIndex(m_entries.count() - 1);
    return handle;
}

void StateObjectCache::bindTextures(const TextureState* textureState, const TextureOverrides* overrides)
{
    PixelBuffer* images[GraphicsBackEnd::kMaxTextureBindings] = {};
    u32 count = 0;
    for (u32 unit = 0; unit < GraphicsBackEnd::kMaxTextureBindings; ++unit) {
        PixelBuffer* image = overrides ? overrides->images[unit] : nullptr;
        if (!image && textureState) {
            if (const Texture* texture = textureState->texture(unit))
                image = texture->pixelBuffer();
        }
        images[unit] = image;
        if (image)
            count = unit + 1;
    }
    m_backEnd->bindTextures(2, images, count);
}

void StateObjectCache::removeShader(const Shader* shader)
{
    Entry* entries = m_entries.dataAs<Entry>();
    const u64 count = m_entries.count();
    u64 kept = 0;
    for (u64 i = 0; i < count; ++i) {
        if (entries[i].shader == shader) {
            m_backEnd->destroyStateObject(entries[i].handle);
            continue;
        }
        entries[kept++] = entries[i];
    }
    if (kept == count)
        return;
    m_entries.expand(kept);
    rebuildIndex(m_index.count());
}

void StateObjectCache::insertIntoIndex(u64 entryIndex)
{
    const u64 capacity = m_index.count();
    u32* slots = m_index.dataAs<u32>();
    const Entry& added = m_entries.at<Entry>(entryIndex);
    u64 slot = slotFor(added.shader, added.vertexFormatHash, capacity - 1);
    while (slots[slot] != 0)
        slot = (slot + 1) & (capacity - 1);
    slots[slot] = static_cast<u32>(entryIndex + 1);
}

void StateObjectCache::rebuildIndex(u64 capacity)
{
    if (capacity == 0)
        return;
    m_index.expand(capacity);
    std::memset(m_index.data(), 0, capacity * sizeof(u32));
    for (u64 i = 0; i < m_entries.count(); ++i)
        insertIntoIndex(i);
}

} // namespace quern::graphics
