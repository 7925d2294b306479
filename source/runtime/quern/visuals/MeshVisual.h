#pragma once
// The visual that mesh assets load into: a static vertex buffer with
// sub-meshes, bone matrices for skinning, an optional vertex generator that
// refreshes the vertices, and an optional explicit bounding sphere.

#include "quern/containers/Array.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/visuals/Visual.h"

namespace quern::visuals {

// Writes vertices into a mesh's buffer whenever its contents change.
class VertexGenerator : public RefCounted {
public:
    virtual void prepare(const graphics::VertexFormat& format) = 0;
    virtual void write(u8* vertices, u64 count) = 0;
};

class MeshVisual : public Visual {
public:
    MeshVisual();
    ~MeshVisual() override;

    // Nothing to build: a mesh's geometry is loaded, not generated.
    void buildGeometry() override { }
    // Runs the vertex generator over the vertex buffer.
    void refreshGeometry() override;
    f32 getBoundingSphere(math::Vector3& centre) override;
    void getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents) override;
    bool getAuxiliaryFlag() override { return auxiliaryFlag != 0; }
    MeshVisual* asMeshVisual() override { return this; }
    // Shares the vertex buffer, index buffers and materials; copies the bone
    // matrices, the explicit sphere and every sub-mesh's bounds.
    Visual* clone() const override;

    void setVertexGenerator(VertexGenerator* generator);
    VertexGenerator* vertexGenerator() const { return m_generator.get<VertexGenerator>(); }
    // 4x4 float matrices, one per bone.
    containers::Array& boneMatrices() { return m_boneMatrices; }
    // Replaces the computed bounds with this sphere.
    void setExplicitSphere(const math::Vector3& centre, f32 radius);

    f32 explicitRadius = 0.0f;
    math::Vector3 explicitCentre;
    u8 useExplicitSphere = 0;
    u8 auxiliaryFlag = 0;

protected:
    MeshVisual(const MeshVisual& other);

private:
    Ref m_generator;
    containers::Array m_boneMatrices;
};

} // namespace quern::visuals
