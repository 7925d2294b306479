// Ray picking of visuals: the triangle list and octree built on the first
// pick, and Moller-Trumbore against the triangles of the leaves a ray meets.

#include "quern/visuals/Visual.h"

#include "quern/debug/Log.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/iterators/PrimitiveIterator.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Ray.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/visuals/MeshOctree.h"
#include "quern/visuals/RayHit.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/VertexPositions.h"

#include <algorithm>
#include <cstring>

namespace quern::visuals {
namespace {

constexpr f32 kPickEpsilon = 1.1920929e-7f;
constexpr u64 kMostHits = 100;

memory::Allocator& visualAllocator() { return *memory::getDefaultAllocator(); }

// A float attribute of at least `least` components, read by vertex number.
class FloatAttribute {
public:
    FloatAttribute(const graphics::VertexBuffer& buffer, const u8* data, u64 id, u32 least)
    {
        const graphics::VertexAttribute* attribute = buffer.format().findAttribute(id);
        if (!data || !attribute || attribute->type != graphics::VertexAttribute::Float || attribute->count < least)
            return;
        m_data = data + attribute->offset;
        m_stride = buffer.format().stride;
        m_count = buffer.vertexCount();
    }
    bool present() const { return m_data != nullptr; }
    // False for a vertex number past the end (or no attribute).
    bool readVector(u32 vertex, math::Vector3& out) const
    {
        if (vertex >= m_count)
            return false;
        f32 xyz[3];
        std::memcpy(xyz, m_data + u64 { vertex } * m_stride, sizeof xyz);
        out = { xyz[0], xyz[1], xyz[2] };
        return true;
    }
    void read(u32 vertex, f32* out, u32 components) const
    {
        if (vertex < m_count)
            std::memcpy(out, m_data + u64 { vertex } * m_stride, components * sizeof(f32));
    }

private:
    const u8* m_data = nullptr;
    u64 m_stride = 0;
    u64 m_count = 0;
};

// a + (b - a) u + (c - a) v, per component.
void interpolate(const f32* a, const f32* b, const f32* c, f32 u, f32 v, u32 components, f32* out)
{
    for (u32 i = 0; i < components; ++i)
        out[i] = a[i] + (b[i] - a[i]) * u + (c[i] - a[i]) * v;
}

} // namespace

void Visual::releasePicking()
{
    clearHits();
    m_hits.release();
    if (m_octree) {
        MeshOctree::destroy(m_octree, visualAllocator());
        m_octree = nullptr;
    }
    if (m_triangles) {
        m_triangles->~Array();
        visualAllocator().free(m_triangles);
        m_triangles = nullptr;
    }
}

void Visual::buildTriangleList(containers::Array& triangles)
{
    update();
    triangles.clear();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (vb) {
        VertexPositions positions(*vb);
        graphics::Shader* owner = nullptr;
        for (const Ref& held : m_subMeshes) {
            SubMesh* part = held.get<SubMesh>();
            graphics::IndexBuffer* ib = part->indexBuffer();
            if (!ib || !(static_cast<u32>(ib->primitiveType()) & 1))
                continue;
            // getShader brings a dirty material's pass up to date first.
            if (graphics::Material* own = part->material())
                if (graphics::Shader* shader = own->getShader())
                    owner = shader;
            const u64 count = ib->indexCount();
            if (count == 0)
                continue;
            const u64 first = triangles.count();
            triangles.expand(first + ib->getPrimitiveCount(count));
            u64 filled = first;
            const u8* begin = ib->lockIndices(containers::BufferBase::Lock::Read, 0, count);
            graphics::IndexedTriangleIterator iterator(
                begin, begin + count * ib->indexSize(), ib->indexSize(), ib->primitiveType());
            u32 t[3];
            while (filled < triangles.count() && iterator.next(t)) {
                math::Vector3 k, l, m;
                // Vertex numbers past the buffer name nothing to pick.
                if (!positions.read(t[0], k) || !positions.read(t[1], l) || !positions.read(t[2], m))
                    continue;
                TriangleRecord& record = triangles.at<TriangleRecord>(filled++);
                record.owner = owner;
                std::memcpy(record.indices, t, sizeof t);
                MeshOctree::faceNormal(k, l, m, record.normal);
            }
            ib->unlockIndices();
            triangles.expand(filled);
        }
    }
    if (triangles.isEmpty())
        QUERN_LOG(2) << "Visual '" << m_name << "'"
                     << " with empty topology (no triangles)!" << std::endl;
}

void Visual::buildOctree(OctreeNode& root, const containers::Array& triangles)
{
    math::Vector3 centre, half;
    getBoundingBox(centre, half);
    root.centre[0] = centre.x;
    root.centre[1] = centre.y;
    root.centre[2] = centre.z;
    root.centre[3] = 1;
    root.edge = 2.0f * std::max({ half.x, half.y, half.z });
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb || triangles.isEmpty())
        return;
    VertexPositions positions(*vb);
    MeshOctree::split(root, triangles, positions, MeshOctree::kRootDepth, visualAllocator());
}

OctreeNode* Visual::getOctree()
{
    if (m_octree)
        return m_octree;
    void* memory = visualAllocator().allocate(sizeof(containers::Array), alignof(containers::Array));
    if (!memory)
        QUERN_OUT_OF_MEMORY();
    m_triangles = new (memory) containers::Array(sizeof(TriangleRecord), alignof(TriangleRecord));
    buildTriangleList(*m_triangles);
    m_octree = MeshOctree::allocateNode(visualAllocator());
    buildOctree(*m_octree, *m_triangles);
    return m_octree;
}

RayHit* Visual::allocateHit()
{
    RayHit* hit = takeRayHit();
    *static_cast<RayHit**>(m_hits.expand(m_hits.count() + 1)) = hit;
    return hit;
}

void Visual::clearHits()
{
    for (u64 i = 0; i < m_hits.count(); ++i)
        returnRayHit(m_hits.at<RayHit*>(i));
    m_hits.clear();
}

const containers::Array& Visual::raycast(const math::Ray& worldRay, const math::Matrix4& world)
{
    clearHits();
    const math::Ray ray = worldRay.toLocalSpace(world);
    const OctreeNode& root = *getOctree();
    graphics::VertexBuffer* vb = vertexBuffer();
    if (!vb || vb->vertexCount() == 0)
        return m_hits;
    m_leaves.clear();
    MeshOctree::collectLeaves(root, ray, m_leaves);
    if (m_leaves.empty())
        return m_hits;

    const u8* data = vb->lockVertices(containers::BufferBase::Lock::Read, 0, vb->vertexCount());
    const FloatAttribute positions(*vb, data, graphics::VertexAttribute::kPositionID, 3);
    const FloatAttribute normals(*vb, data, graphics::VertexAttribute::kNormalID, 3);
    const FloatAttribute texCoords(*vb, data, graphics::VertexAttribute::kTexCoord0ID, 2);
    const math::Vector3& o = ray.origin;
    const math::Vector3& d = ray.direction;
    for (const OctreeNode* leaf : m_leaves) {
        for (u64 i = 0; i < leaf->triangles.count() && m_hits.count() < kMostHits; ++i) {
            const TriangleRecord& record = leaf->triangles.at<TriangleRecord>(i);
            math::Vector3 k, l, m;
            if (!positions.readVector(record.indices[0], k) || !positions.readVector(record.indices[1], l)
                || !positions.readVector(record.indices[2], m))
                continue;
            const math::Vector3 e1 = l - k;
            const math::Vector3 e2 = m - k;
            const math::Vector3 p = math::cross(d, e2);
            const f32 det = math::dot(e1, p);
            const math::Vector3 s = o - k;
            const f32 u = math::dot(s, p);
            const math::Vector3 q = math::cross(s, e1);
            const f32 v = math::dot(d, q);
            bool front;
            if (det > kPickEpsilon) {
                if (u < 0 || u > det || v < 0 || u + v > det)
                    continue;
                front = true;
            } else if (det < -kPickEpsilon) {
                if (u > 0 || u < det || v > 0 || u + v < det)
                    continue;
                front = false;
            } else {
                continue;
            }
            const f32 t = math::dot(e2, q) / det;
            if (t < 0)
                continue;
            bool listed = false;
            for (u64 h = 0; h < m_hits.count() && !listed; ++h) {
                const RayHit& other = *m_hits.at<RayHit*>(h);
                listed = other.t == t && (other.frontFacing != 0) == front;
            }
            if (listed)
                continue;
            const f32 bu = u / det;
            const f32 bv = v / det;
            RayHit& hit = *allocateHit();
            hit.t = t;
            hit.frontFacing = front ? 1 : 0;
            const math::Vector3 at = worldRay.origin + worldRay.direction * t;
            hit.position[0] = at.x;
            hit.position[1] = at.y;
            hit.position[2] = at.z;
            std::memcpy(hit.indices, record.indices, sizeof hit.indices);
            hit.owner = record.owner;
            if (normals.present()) {
                f32 nk[3] = {}, nl[3] = {}, nm[3] = {}, n[3];
                normals.read(record.indices[0], nk, 3);
                normals.read(record.indices[1], nl, 3);
                normals.read(record.indices[2], nm, 3);
                interpolate(nk, nl, nm, bu, bv, 3, n);
                math::Vector3 turned = world.transformVector({ n[0], n[1], n[2] });
                const f32 length = turned.length();
                if (length < kPickEpsilon) {
                    debug::softAssert("Invalid normal", "", __FILE__, __LINE__);
                    turned = { 0, 0, 1 };
                } else {
                    turned = turned * (1.0f / length);
                }
                hit.normal[0] = turned.x;
                hit.normal[1] = turned.y;
                hit.normal[2] = turned.z;
            } else {
                std::memcpy(hit.normal, record.normal, sizeof record.normal);
            }
            if (texCoords.present()) {
                f32 tk[2] = {}, tl[2] = {}, tm[2] = {};
                texCoords.read(record.indices[0], tk, 2);
                texCoords.read(record.indices[1], tl, 2);
                texCoords.read(record.indices[2], tm, 2);
                interpolate(tk, tl, tm, bu, bv, 2, hit.texCoord);
            }
        }
        if (m_hits.count() >= kMostHits)
            break;
    }
    vb->unlockVertices();
    return m_hits;
}

} // namespace quern::visuals
