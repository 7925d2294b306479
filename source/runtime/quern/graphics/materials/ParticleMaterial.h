#pragma once
// The built-in material for unlit, optionally textured geometry with one
// colour and a blend mode, and the base of the sprite, text, debug and
// vertex-colour materials. With the factors left at (one, zero) the texture
// picks the blend mode: premultiplied blending when it has alpha, none
// otherwise.

#include "quern/Types.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/ShaderLanguage.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class Texture;

class ParticleMaterial : public Material {
public:
    using BlendFactor = AlphaBlendState::BlendFactor;

    static constexpr f32 kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};

    ParticleMaterial();
    ParticleMaterial(const ParticleMaterial& other) = default;

    ParticleMaterial* clone() const override { return new ParticleMaterial(*this); }
    // The "unlit" programs; a texture state and a blend state.
    Shader* createShader(Display& display) override;
    // "color" and the matrix; the texture on unit 0 (the white texture when
    // there is none, so the colour never comes from what unit 0 held before);
    // the blend mode.
    void setUpShader(Shader& shader) override;

    // Registers the particle programs, which material files name.
    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);

    // Users change these and then mark the material dirty.
    Texture* texture() const;
    void setTexture(Texture* texture);
    BlendFactor sourceFactor() const { return m_sourceFactor; }
    BlendFactor destinationFactor() const { return m_destinationFactor; }
    void setBlendFactors(BlendFactor source, BlendFactor destination)
    {
        m_sourceFactor = source;
        m_destinationFactor = destination;
    }
    const f32* colour() const { return m_colour; }
    void setColour(f32 r, f32 g, f32 b, f32 a);

private:
    Ref m_texture;
    BlendFactor m_sourceFactor = BlendFactor::One;
    BlendFactor m_destinationFactor = BlendFactor::Zero;
    f32 m_colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
};

// Wire-frame debug drawing: lines, no culling, no depth test.
class DebugMaterial : public ParticleMaterial {
public:
    DebugMaterial() = default;
    DebugMaterial(const DebugMaterial& other) = default;

    DebugMaterial* clone() const override { return new DebugMaterial(*this); }
    Shader* createShader(Display& display) override;
};

} // namespace quern::graphics
