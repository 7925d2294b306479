#pragma once
// The scene pass that draws the depth of shadow casters from a light into a
// shadow map (a texture render target with a depth attachment). At execution
// it first moves the light camera to the light (fitting the light to the
// viewer's view when asked), then culls and draws the casters.

#include "quern/Types.h"
#include "quern/fx/shadows/ShadowCaster.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/ScenePass.h"

namespace quern::graphics {
class Texture;
}

namespace quern::fx {

class ShadowMapRenderPass final : public render::ScenePass {
public:
    ShadowMapRenderPass();
    ~ShadowMapRenderPass() override;

    // Bind and clear the map, the refit callback, then cull and draw the
    // casters from the light camera. The light must be set first.
    void recordCommands(render::RenderCommandList& list) override;
    // Draws at once with the caster renderer and updates the receivers.
    void render(render::RenderLists& lists, render::Renderer& renderer, scene::Camera& viewer) override;

    // Places the light camera: at the light, of the light's size, or of the
    // size fitted to the pass's camera when fitToView is set and the map has
    // a depth texture.
    void refitLightCamera();
    // The output's first depth texture, or null.
    graphics::Texture* findDepthTarget() const;

    ShadowCaster& caster() { return *m_caster; }

    // The culler of the casters; the caster culler unless the owner puts in
    // its own (which it then deletes itself).
    render::Culler* culler;
    u8 fitToView = 0;
    f32 fitHeight = 70.0f;

private:
    class RefitCallback final : public render::RenderCallback {
    public:
        explicit RefitCallback(ShadowMapRenderPass& pass)
            : m_pass(pass)
        {
        }
        void run(render::RenderCommand&) override { m_pass.refitLightCamera(); }

    private:
        ShadowMapRenderPass& m_pass;
    };

    ShadowCaster* m_caster;
    RefitCallback* m_refit;
};

} // namespace quern::fx
