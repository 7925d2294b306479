#pragma once
// One draw of a visual: an index buffer into the visual's vertex buffer, an
// optional material of its own, two texture overrides and its bounding sphere
// in the visual's space, which goes stale whenever the indices change.

#include "quern/Types.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/language/RefCounted.h"
#include "quern/math/Vector3.h"

#include <string>

namespace quern::graphics {
class IndexBuffer;
class Material;
class PixelBuffer;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::visuals {

class SubMesh : public RefCounted, public graphics::BufferChangeListener {
public:
    SubMesh() = default;
    // Shares other's index buffer and material; same name, overrides, bounds and staleness.
    SubMesh(const SubMesh& other);
    ~SubMesh() override;

    void bufferChanged(graphics::DisplayBuffer*) override { markBoundsStale(); }

    // The index buffer, a new static one made (and listened to) when missing.
    graphics::IndexBuffer* getIndexBuffer();
    graphics::IndexBuffer* indexBuffer() const;
    // Moves the listener registration to the new buffer and holds it.
    void setIndexBuffer(graphics::IndexBuffer* buffer);
    void setMaterial(graphics::Material* material);
    graphics::Material* material() const { return m_material.get<graphics::Material>(); }

    void markBoundsStale() { m_boundsStale = 1; }
    bool boundsStale() const { return m_boundsStale != 0; }
    // The sphere around the vertices the sub-mesh draws from vb; stays stale
    // while vb holds no data.
    void updateBounds(graphics::VertexBuffer* vb);
    void setBounds(const math::Vector3& centre, f32 radius);
    const math::Vector3& centre() const { return m_centre; }
    f32 radius() const { return m_radius; }

    std::string name;
    // Per-draw images of texture units 0 and 1; null leaves them to the material.
    graphics::PixelBuffer* textureOverrides[2] = { nullptr, nullptr };

private:
    Ref m_indexBuffer;
    Ref m_material;
    math::Vector3 m_centre;
    f32 m_radius = 0.0f;
    u8 m_boundsStale = 1;
};

} // namespace quern::visuals
