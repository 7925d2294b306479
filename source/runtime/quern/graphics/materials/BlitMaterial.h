#pragma once
// Copies a texture onto a screen quad: a plain copy, the resolve of a
// multisampled texture, or a copy at half size that averages four texels.

#include "quern/Types.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/ShaderLanguage.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class Texture;

class BlitMaterial : public Material {
public:
    BlitMaterial() = default;
    BlitMaterial(const BlitMaterial& other) = default;

    BlitMaterial* clone() const override { return new BlitMaterial(*this); }
    // The matrix uniform, no mipmapping on unit 0, depth test always passing.
    Shader* createShader(Display& display) override;
    // Programs by the source's sample count and the downsample flag,
    // "numSamples", "texelSize" when downsampling, the source clamped on
    // unit 0. Without a source nothing can be copied: the material says so
    // and leaves unit 0 empty.
    void setUpShader(Shader& shader) override;

    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);

    Texture* source() const;
    void setSource(Texture* texture);
    bool downsample() const { return m_downsample != 0; }
    void setDownsample(bool enabled) { m_downsample = enabled ? 1 : 0; }

private:
    Ref m_source;
    u8 m_downsample = 0;
};

} // namespace quern::graphics
