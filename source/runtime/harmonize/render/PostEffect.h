#pragma once
// What a post-processing pass runs: an effect reads the frame from the
// current source target and writes the destination target; when it reports
// that the destination holds the result the two swap, so every enabled
// effect works on the output of the one before (ping-pong).

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {
class TextureRenderTarget;
}

namespace harmonize {

class QuadRenderer;
class RenderTargetPool;

class PostEffect {
public:
    virtual ~PostEffect() = default;
    // True when `destination` now holds the result.
    virtual bool apply(quern::graphics::TextureRenderTarget* source, quern::graphics::TextureRenderTarget* destination,
        QuadRenderer& quads, RenderTargetPool& pool)
        = 0;
};

// The two frame-sized targets the effects ping-pong between. `first` is the
// scene target itself when the scene is not multisampled.
struct PostProcessTargets {
    quern::Ref first;
    quern::Ref second;
    quern::graphics::TextureRenderTarget* source = nullptr;
    quern::graphics::TextureRenderTarget* destination = nullptr;

    // Holds both and starts a frame on them.
    void set(quern::graphics::TextureRenderTarget* firstTarget, quern::graphics::TextureRenderTarget* secondTarget);
    // Every frame starts reading `first` and writing `second`.
    void reset();
    void swap();
    // Lets both go; source and destination become null.
    void release();
};

} // namespace harmonize
