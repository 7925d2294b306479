#pragma once
// Turns the three planes of a decoded video frame into colour.

#include "quern/graphics/Material.h"
#include "quern/graphics/ShaderLanguage.h"
#include "quern/language/RefCounted.h"

namespace quern::graphics {

class Texture;

class YuvToRgbMaterial : public Material {
public:
    YuvToRgbMaterial() = default;
    YuvToRgbMaterial(const YuvToRgbMaterial& other) = default;

    YuvToRgbMaterial* clone() const override { return new YuvToRgbMaterial(*this); }
    // The "unlit" vertex and "yuv_to_rgb" fragment programs, the plane
    // samplers on units 0 (Y), 1 (U) and 2 (V), no mipmapping.
    Shader* createShader(Display& display) override;
    // The planes on their units.
    void setUpShader(Shader& shader) override;

    static void registerShaders(ShaderLanguage language, assets::ResourceCache& cache);

    Texture* yPlane() const;
    Texture* uPlane() const;
    Texture* vPlane() const;
    void setPlanes(Texture* y, Texture* u, Texture* v);

private:
    // Declared Y, U, V: released V, U, Y.
    Ref m_yPlane;
    Ref m_uPlane;
    Ref m_vPlane;
};

} // namespace quern::graphics
