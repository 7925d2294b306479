#pragma once
// Passes that draw one full-screen quad. A FullscreenQuadPass records its own
// draw with its own material into the letterboxed area of its output; a
// CallbackQuadPass records only a call back into itself, which runs a post
// effect on the post-processing targets when the command list executes.

#include "quern/Types.h"
#include "quern/math/Matrix4.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/ScenePass.h"

namespace quern::graphics {
class SpriteMaterial;
}
namespace quern::visuals {
class MeshVisual;
}

namespace harmonize {

class PostEffect;
class QuadRenderer;
class RenderTargetPool;
struct PostProcessTargets;

class FullscreenQuadPass : public quern::render::ScenePass {
public:
    // Clears its output to opaque black.
    FullscreenQuadPass();
    ~FullscreenQuadPass() override;

    // Bind and clear the output, the output viewport, then the quad.
    void recordCommands(quern::render::RenderCommandList& list) override;
    // Builds the quad and gives it the pass's material.
    void setUp() override;

    quern::visuals::MeshVisual* visual() const { return m_visual.get<quern::visuals::MeshVisual>(); }
    quern::graphics::SpriteMaterial* material() const { return m_material.get<quern::graphics::SpriteMaterial>(); }
    const quern::math::Matrix4& projection() const { return m_projection; }

private:
    quern::Ref m_visual;
    quern::Ref m_material;
    quern::math::Matrix4 m_projection;
    quern::math::Matrix4 m_worldView;
};

class CallbackQuadPass : public FullscreenQuadPass {
public:
    // The pass keeps references to none of them: they outlive every pass
    // list the pass is in.
    CallbackQuadPass(PostEffect& effect, QuadRenderer& quads, RenderTargetPool& pool, PostProcessTargets& targets);
    ~CallbackQuadPass() override;

    // One Custom command calling run; the effect binds its own targets.
    void recordCommands(quern::render::RenderCommandList& list) override;
    // Applies the effect from the current source to the current destination
    // and swaps them when it says so.
    void run();

    PostEffect& effect() const { return m_effect; }

private:
    class Callback final : public quern::render::RenderCallback {
    public:
        explicit Callback(CallbackQuadPass& pass)
            : m_pass(pass)
        {
        }
        void run(quern::render::RenderCommand&) override { m_pass.run(); }

    private:
        CallbackQuadPass& m_pass;
    };

    PostEffect& m_effect;
    QuadRenderer& m_quads;
    RenderTargetPool& m_pool;
    PostProcessTargets& m_targets;
    Callback m_callback;
};

} // namespace harmonize
