#pragma once
// Procedural visuals for drawing bounding volumes: a box of six subdivided
// faces and a UV sphere, both triangle strips of 32-byte vertices (position,
// normal, texcoord0), both picked analytically instead of through an octree.
// Owners change their sizes, then mark the geometry dirty and call
// notifyChanged so the next update rebuilds.

#include "quern/visuals/Visual.h"

namespace quern::visuals {

class BoxVisual final : public Visual {
public:
    enum Face { Front, Back, Left, Right, Top, Bottom, FaceCount };

    BoxVisual() = default;

    void buildGeometry() override;
    bool getAuxiliaryFlag() override { return true; }
    f32 computeVolume() override { return extents[0] * extents[1] * extents[2]; }
    Visual* clone() const override { return new BoxVisual(*this); }
    // One hit where the ray enters the box, or leaves it when it starts inside.
    const containers::Array& raycast(const math::Ray& ray, const math::Matrix4& world) override;

    // The sub-mesh drawing each face (the shared one unless strips are separate).
    SubMesh* faceSubMesh(Face face) const { return m_faces[face]; }

    f32 extents[3] = { 1, 1, 1 }; // full edge lengths
    i32 subdivisions[3] = { 1, 1, 1 }; // grid cells per face along x, y, z
    u8 separateStrips = 0;

private:
    BoxVisual(const BoxVisual& other);

    SubMesh* m_faces[FaceCount] = {};
};

class SphereVisual final : public Visual {
public:
    SphereVisual() = default;

    void buildGeometry() override;
    f32 getBoundingSphere(math::Vector3& centre) override;
    void getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents) override;
    bool getAuxiliaryFlag() override { return true; }
    f32 computeVolume() override { return 4.1887903f * radius * radius * radius; }
    Visual* clone() const override { return new SphereVisual(*this); }
    // The entry and exit points still ahead of the ray's origin, for a sphere
    // at the world matrix's translation (its rotation and scale are not applied).
    const containers::Array& raycast(const math::Ray& ray, const math::Matrix4& world) override;

    f32 radius = 1;
    i32 segments = 32;
    u8 separateStrips = 0;

private:
    SphereVisual(const SphereVisual& other);
};

} // namespace quern::visuals
