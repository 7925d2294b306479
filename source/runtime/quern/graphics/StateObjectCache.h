#pragma once
// The state-object cache sits between Shaders and the graphics device. The
// device keeps compiled render-state objects under u32 handles; the cache
// maps each (Shader, vertex format) pair that has been drawn to one, rebuilds
// it after a render state of that Shader changed, and binds a draw's
// textures. One cache lives in each display context.

#include "quern/Types.h"
#include "quern/containers/Array.h"

namespace quern::graphics {

class GraphicsBackEnd;
class PixelBuffer;
class RenderState;
class Shader;
class TextureState;
class VertexFormat;

// A draw's own images per texture unit; null leaves the unit to the pass.
struct TextureOverrides {
    PixelBuffer* images[8] = {};
};

class StateObjectCache {
public:
    struct Entry {
        Shader* shader; // not retained: a Shader removes its entries when it dies
        u32 vertexFormatHash;
        u32 handle;
        u8 dirty;
    };

    explicit StateObjectCache(GraphicsBackEnd* backEnd);
    // Destroys every device object and lets the default Shader go.
    ~StateObjectCache();
    StateObjectCache(const StateObjectCache&) = delete;
    StateObjectCache& operator=(const StateObjectCache&) = delete;

    // A render state changed: the entries of the Shader that owns it become
    // dirty. The owner is found (and remembered) on the first call.
    void markDirty(RenderState* state);
    // Every entry of `shader` becomes dirty.
    void markShaderDirty(const Shader* shader);
    // The device handle for drawing `shader` with `format` (null: hash 0),
    // made on first use and rebuilt when dirty.
    u32 getStateObject(Shader* shader, const VertexFormat* format);
    // Binds per unit 0-7 the override image, else the unit's texture's image.
    void bindTextures(const TextureState* textureState, const TextureOverrides* overrides);
    // Destroys the device objects of `shader` and forgets its entries.
    void removeShader(const Shader* shader);

    // The Shader without render states; a device depth clear and the
    // display's close dirty its entries.
    Shader* defaultShader() const { return m_defaultShader; }
    GraphicsBackEnd* backEnd() const { return m_backEnd; }
    u64 entryCount() const { return m_entries.count(); }
    const Entry& entry(u64 index) const { return m_entries.at<Entry>(index); }

    // Whether `cache` is a cache that exists now: Shaders and states may
    // outlive the display that made their cache.
    static bool isLive(const StateObjectCache* cache);

private:
    // Index of the entry for the key, or kNone.
    u64 find(const Shader* shader, u32 formatHash) const;
    void insertIntoIndex(u64 entryIndex);
    void rebuildIndex(u64 capacity);

    static constexpr u64 kNone = ~0ull;

    Shader* m_defaultShader;
    GraphicsBackEnd* m_backEnd;
    containers::Array m_entries; // Entry, in insertion order
    // Open addressing over the entries: entry index + 1 per slot, 0 empty.
    containers::Array m_index;
};

} // namespace quern::graphics
