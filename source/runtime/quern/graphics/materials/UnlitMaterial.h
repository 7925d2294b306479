#pragma once
// The sprite batches' material: vertex colours, an optional texture, a
// scissor rectangle, and alpha blending by default. The material's own
// colour is not applied: the batches carry colour per vertex.

#include "quern/Types.h"
#include "quern/graphics/materials/ParticleMaterial.h"

namespace quern::graphics {

class UnlitMaterial : public ParticleMaterial {
public:
    // Source alpha, one minus source alpha.
    UnlitMaterial();
    UnlitMaterial(const UnlitMaterial& other) = default;

    UnlitMaterial* clone() const override { return new UnlitMaterial(*this); }
    // Blend, program, texture and depth states; no depth test.
    Shader* createShader(Display& display) override;
    // The vertex-colour programs (textured or not), "color" white, the scissor.
    void setUpShader(Shader& shader) override;

    // The unlit pair, which the particle, blit, brightness and YUV materials use.
    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);
    // The vertex-colour programs of this material.
    static void registerVertexColorShaders(ShaderLanguage language, assets::ResourceCache& cache);

    const i32* scissor() const { return m_scissor; }
    void setScissor(i32 x, i32 y, i32 width, i32 height);
    bool isScissorEnabled() const { return m_scissorEnabled != 0; }
    void setScissorEnabled(bool enabled) { m_scissorEnabled = enabled ? 1 : 0; }

private:
    i32 m_scissor[4] = {};
    u8 m_scissorEnabled = 0;
};

} // namespace quern::graphics
