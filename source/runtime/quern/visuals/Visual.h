#pragma once
// A piece of drawable geometry: one vertex buffer shared by an ordered list of
// sub-meshes, each an index buffer with an optional material of its own.
// Scene nodes show visuals and render queues ask them to submit one draw per
// sub-mesh. A visual rebuilds lazily: derived classes say how to build and
// refresh their geometry, and update decides when.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/graphics/DisplayBuffer.h"
#include "quern/language/RefCounted.h"
#include "quern/math/Vector3.h"
#include "quern/scene/NodeListenerList.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quern::graphics {
class IndexBuffer;
class Material;
class Shader;
class VertexBuffer;
} // namespace quern::graphics

namespace quern::math {
struct Matrix4;
struct Ray;
} // namespace quern::math

namespace quern::render {
struct RenderContext;
}

namespace quern::scene {
class Node;
}

namespace quern::visuals {

class MeshVisual;
class SubMesh;
class Visual;
struct OctreeNode;
struct RayHit;

// Told when a visual's geometry changes (nodes showing it register one).
class VisualChangeListener {
public:
    virtual ~VisualChangeListener() = default;
    virtual void visualChanged(Visual* visual) = 0;
};

class Visual : public RefCounted, public scene::NodeListenerList {
public:
    // Bits of flags().
    enum Flags : u32 {
        GeometryDirty = 1u << 0,
        ContentsChanged = 1u << 1,
    };

    // Geometry dirty, the default material (a plain Shader), no vertex buffer.
    Visual();
    ~Visual() override;

    // Holds vb, with the visual's buffer listener registered on it exactly once.
    virtual void setVertexBuffer(graphics::VertexBuffer* vb);
    // Whether the ray's line passes within the node's world bounding sphere.
    virtual bool intersectsBounds(const math::Ray& ray, scene::Node& node);
    virtual void buildGeometry() = 0;
    virtual void refreshGeometry() { }
    // The local-space sphere; returns the radius.
    virtual f32 getBoundingSphere(math::Vector3& centre);
    // The local-space box as centre and half extents.
    virtual void getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents);
    // Appends one render job per sub-mesh that is not culled.
    virtual void submit(render::RenderContext& context);
    virtual bool getAuxiliaryFlag() = 0;
    virtual f32 computeVolume();
    virtual MeshVisual* asMeshVisual() { return nullptr; }
    virtual void describe(std::ostream& out);
    virtual Visual* clone() const = 0;
    // The hits (RayHit pointers) of a world-space ray against the visual's
    // triangles, at most 100 in the order found; `world` is the visual's
    // world transform. Valid until the next pick or the visual's end.
    virtual const containers::Array& raycast(const math::Ray& ray, const math::Matrix4& world);

    // The octree root, built with the triangle list on first use and kept
    // (later geometry changes do not rebuild it).
    OctreeNode* getOctree();
    // The triangles of every sub-mesh whose index buffer draws triangles,
    // degenerate ones left out; warns when there are none.
    void buildTriangleList(containers::Array& triangles);
    void buildOctree(OctreeNode& root, const containers::Array& triangles);
    // A pooled record appended to the hit list.
    RayHit* allocateHit();
    // Hands the listed hits back to the pool.
    void clearHits();
    const containers::Array& hits() const { return m_hits; }

    // Builds when the geometry is dirty (keeping the material should the build
    // drop it), then refreshes when the contents changed.
    void update();
    // The vertex buffer, made by the display's device with `usage` when there is none.
    graphics::VertexBuffer* getVertexBuffer(u32 usage);
    graphics::VertexBuffer* vertexBuffer() const;
    // A new sub-mesh with a new static index buffer and the material, appended.
    SubMesh* addSubMesh(graphics::Material* material);
    void appendSubMesh(SubMesh* subMesh);
    void removeAllSubMeshes() { m_subMeshes.clear(); }
    // The first sub-mesh, an empty one appended first when there is none.
    SubMesh* getFirstSubMesh();
    // The first sub-mesh's index buffer, made when missing.
    graphics::IndexBuffer* getIndexBuffer();
    u64 subMeshCount() const { return m_subMeshes.size(); }
    SubMesh* subMesh(u64 index) const { return m_subMeshes[index].get<SubMesh>(); }

    void setMaterial(graphics::Material* material);
    graphics::Material* material() const { return m_material.get<graphics::Material>(); }
    // The material's up-to-date pass, or null without a material.
    graphics::Shader* getMaterialShader();
    // getMaterialShader, else the default pass of the display's state-object cache.
    graphics::Shader* getEffectiveShader();

    // Duplicates are kept; removal takes every occurrence.
    void addChangeListener(VisualChangeListener* listener);
    void removeChangeListener(VisualChangeListener* listener);
    u64 changeListenerCount() const { return m_changeListeners.size(); }
    // Tells every change listener, then marks every sub-mesh's bounds stale.
    void notifyChanged();
    // Makes the device objects of buffers that hold data and have none yet.
    void queueUpload();
    // Joins the index buffers of sub-meshes sharing a material.
    void mergeSubMeshes();

    u32 flags() const { return m_flags; }
    void setFlags(u32 bits) { m_flags |= bits; }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

protected:
    // Shares other's material and name; marked dirty. Geometry is not copied.
    Visual(const Visual& other);

private:
    void releasePicking();

    class BufferListener final : public graphics::BufferChangeListener {
    public:
        explicit BufferListener(Visual* visual)
            : m_visual(visual)
        {
        }
        void bufferChanged(graphics::DisplayBuffer*) override { m_visual->notifyChanged(); }

    private:
        Visual* m_visual;
    };

    Ref m_vertexBuffer;
    // Built on the first ray pick.
    containers::Array* m_triangles = nullptr;
    OctreeNode* m_octree = nullptr;
    containers::Array m_hits { sizeof(RayHit*), alignof(RayHit*) };
    std::vector<const OctreeNode*> m_leaves;
    u32 m_flags = GeometryDirty;
    Ref m_material;
    std::vector<Ref> m_subMeshes;
    std::vector<VisualChangeListener*> m_changeListeners;
    BufferListener* m_bufferListener = nullptr;
    std::string m_name;
};

// The largest length of the three axis vectors of a transform: how much it
// can stretch a sphere.
f32 largestAxisScale(const f32 matrix[16]);

} // namespace quern::visuals
