#pragma once
// Copies a texture with a brightness offset and a gamma curve (the options
// menu's brightness screen and the final image).

#include "quern/Types.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/ShaderLanguage.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class Texture;
class Uniform;

class BrightnessMaterial : public Material {
public:
    BrightnessMaterial() = default;
    BrightnessMaterial(const BrightnessMaterial& other) = default;

    BrightnessMaterial* clone() const override { return new BrightnessMaterial(*this); }
    // The "unlit" vertex and "brightness" fragment programs with the matrix,
    // "gamma" and "brightness" uniforms; no mipmapping; depth always passes.
    Shader* createShader(Display& display) override;
    // Writes gamma and brightness into the pass's uniforms and puts the
    // source on unit 0. Uniforms that another pass shares are replaced by
    // new ones rather than written.
    void setUpShader(Shader& shader) override;

    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);

    Texture* source() const;
    void setSource(Texture* texture);
    f32 gamma() const { return m_gamma; }
    void setGamma(f32 gamma) { m_gamma = gamma; }
    f32 brightness() const { return m_brightness; }
    void setBrightness(f32 brightness) { m_brightness = brightness; }

    // The uniforms of the pass last set up (owned by the pass).
    Uniform* gammaUniform() const { return m_gammaUniform; }
    Uniform* brightnessUniform() const { return m_brightnessUniform; }

private:
    Ref m_source;
    Uniform* m_gammaUniform = nullptr;
    Uniform* m_brightnessUniform = nullptr;
    f32 m_gamma = 1.0f;
    f32 m_brightness = 0.0f;
};

} // namespace quern::graphics
