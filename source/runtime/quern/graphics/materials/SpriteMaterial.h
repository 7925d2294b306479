#pragma once
// Screen sprites and text: no culling, no depth test, textures clamped at
// their edges. Text drawn from a one-channel glyph atlas uses the text
// programs, which tint the glyphs' coverage by the vertex colour and the
// material's colour.

#include "quern/graphics/materials/ParticleMaterial.h"

namespace quern::graphics {

class SpriteMaterial : public ParticleMaterial {
public:
    SpriteMaterial() = default;
    SpriteMaterial(const SpriteMaterial& other) = default;

    SpriteMaterial* clone() const override { return new SpriteMaterial(*this); }
    Shader* createShader(Display& display) override;
};

class TextMaterial : public SpriteMaterial {
public:
    TextMaterial() = default;
    TextMaterial(const TextMaterial& other) = default;

    TextMaterial* clone() const override { return new TextMaterial(*this); }
    // The particle set-up with the unlit programs; with an L8 texture the
    // text programs instead, with "uniformColor" in the vertex list and no
    // fragment uniforms.
    void setUpShader(Shader& shader) override;

    // The unlit pair first, then the text programs.
    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);
};

} // namespace quern::graphics
