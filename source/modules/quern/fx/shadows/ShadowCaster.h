#pragma once
// What a shadow-map pass draws with: the light, the camera the casters are
// seen from, a pass of render states only (front faces culled, depth tested
// and written), a renderer that draws only casters, the culler that finds
// them, and the receivers whose shadow-matrix uniforms follow the viewer.

#include "quern/Types.h"
#include "quern/fx/shadows/CasterCuller.h"
#include "quern/language/RefCounted.h"
#include "quern/render/Renderer.h"

#include <vector>

namespace quern::graphics {
class Shader;
class ShaderProgramState;
} // namespace quern::graphics
namespace quern::scene {
class Camera;
class Light;
} // namespace quern::scene

namespace quern::fx {

// A renderer whose one collecting pass sorts the casters front to back and
// draws them all with the caster pass.
class ShadowCasterRenderer final : public render::Renderer {
public:
    explicit ShadowCasterRenderer(graphics::Shader* casterShader);
    ~ShadowCasterRenderer() override;

    // Only shadow casters enter the render lists.
    void visitNode(scene::Node* node, u32 flag) override;

    graphics::Shader* casterShader() const { return m_casterShader.get<graphics::Shader>(); }

private:
    Ref m_casterShader;
};

// A program state whose uniform (in the vertex stage, by index) takes the
// shadow matrix.
struct ShadowReceiver {
    Ref owner; // graphics::ShaderProgramState
    u32 slot = 0;
    u8 enabled = 1;
};

class ShadowCaster {
public:
    ShadowCaster();
    ~ShadowCaster();
    ShadowCaster(const ShadowCaster&) = delete;
    ShadowCaster& operator=(const ShadowCaster&) = delete;

    void addReceiver(graphics::ShaderProgramState* owner, u32 slot);
    // Writes the shadow matrix for the viewer into every enabled receiver.
    void updateReceivers(scene::Camera& viewer);

    scene::Light* light() const { return m_light.get<scene::Light>(); }
    void setLight(scene::Light* light);
    scene::Camera* lightCamera() const { return m_lightCamera.get<scene::Camera>(); }
    graphics::Shader* casterShader() const { return m_casterShader.get<graphics::Shader>(); }
    ShadowCasterRenderer* casterRenderer() const { return m_casterRenderer.get<ShadowCasterRenderer>(); }

    std::vector<ShadowReceiver> receivers;
    CasterCuller casterCuller;

private:
    Ref m_light;
    Ref m_lightCamera;
    Ref m_casterShader;
    Ref m_casterRenderer;
};

} // namespace quern::fx
