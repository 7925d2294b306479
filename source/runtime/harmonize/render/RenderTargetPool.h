#pragma once
// Scratch render targets for the post effects. An effect acquires targets by
// description while it draws and releases them before it returns, so the next
// effect and the next frame get the same targets back: after the first frame
// no target is made. Targets live as long as the pool.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <vector>

namespace quern::graphics {
class Display;
class TextureRenderTarget;
struct TextureRenderTargetDescription;
} // namespace quern::graphics

namespace harmonize {

using quern::i32;
using quern::u64;

// Seven values compared as a whole; the third, sixth and seventh only tell
// otherwise equal requests apart.
struct RenderTargetRequest {
    // Colour format codes.
    static constexpr i32 kColourB8G8R8 = 3;
    static constexpr i32 kColourB8G8R8A8 = 4;
    static constexpr i32 kDepth16 = 6;
    static constexpr i32 kDepth32 = 7;

    i32 width = 0;
    i32 height = 0;
    i32 reserved = 0;
    i32 depthBits = 0; // 0: no depth attachment
    i32 colourFormat = kColourB8G8R8; // another code gives an empty format
    i32 kind = 2;
    i32 usage = 1;

    bool operator==(const RenderTargetRequest&) const = default;

    // What the effects ask for: colour without alpha, no depth.
    static RenderTargetRequest colour(i32 width, i32 height) { return { width, height, 0, 0, kColourB8G8R8, 2, 1 }; }
};
static_assert(sizeof(RenderTargetRequest) == 28, "a request is seven 32-bit values");

class RenderTargetPool {
public:
    // How the pool makes a target; the engine's factory unless a test
    // stands in for the device.
    using CreateTarget = quern::graphics::TextureRenderTarget* (*)(
        const quern::graphics::TextureRenderTargetDescription& description, quern::graphics::Display& display);

    explicit RenderTargetPool(quern::graphics::Display& display, CreateTarget create = nullptr);
    RenderTargetPool(const RenderTargetPool&) = delete;
    RenderTargetPool& operator=(const RenderTargetPool&) = delete;

    // The first free target made for an equal request, else a new one; fatal
    // "Failed to create render target" when none can be made.
    quern::graphics::TextureRenderTarget* acquire(const RenderTargetRequest& request);
    // Frees the target for the next equal request. A target the pool did not
    // hand out, or one already free, changes nothing.
    void release(quern::graphics::TextureRenderTarget* target);

    u64 entryCount() const { return m_entries.size(); }
    quern::graphics::TextureRenderTarget* target(u64 index) const;
    i32 useCount(u64 index) const { return m_entries[index].useCount; }
    quern::graphics::Display& display() const { return m_display; }

private:
    struct Entry {
        quern::Ref target;
        RenderTargetRequest request;
        i32 useCount = 0;
    };

    quern::graphics::TextureRenderTarget* create(const RenderTargetRequest& request);

    std::vector<Entry> m_entries;
    quern::graphics::Display& m_display;
    CreateTarget m_create;
};

} // namespace harmonize
