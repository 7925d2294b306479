#include "quern/visuals/SubMesh.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/visuals/VertexPositions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace quern::visuals {

SubMesh::SubMesh(const SubMesh& other)
    : RefCounted()
    , BufferChangeListener()
    , name(other.name)
    , m_material(other.m_material)
    , m_centre(other.m_centre)
    , m_radius(other.m_radius)
    , m_boundsStale(other.m_boundsStale)
{
    textureOverrides[0] = other.textureOverrides[0];
    textureOverrides[1] = other.textureOverrides[1];
    setIndexBuffer(other.indexBuffer());
    // Sharing the indices is no change of them.
    m_boundsStale = other.m_boundsStale;
}

SubMesh::~SubMesh()
{
    if (graphics::IndexBuffer* ib = indexBuffer())
        ib->removeListener(this);
}

graphics::IndexBuffer* SubMesh::indexBuffer() const { return m_indexBuffer.getCounted<graphics::IndexBuffer>(); }

graphics::IndexBuffer* SubMesh::getIndexBuffer()
{
    if (!indexBuffer())
        setIndexBuffer(graphics::Display::get()->backEnd()->createIndexBuffer(
            graphics::BufferUsage::Static | graphics::BufferUsage::Draw));
    return indexBuffer();
}

void SubMesh::setIndexBuffer(graphics::IndexBuffer* buffer)
{
    graphics::IndexBuffer* old = indexBuffer();
    if (buffer == old)
        return;
    if (old)
        old->removeListener(this);
    if (buffer)
        buffer->addListener(this);
    m_indexBuffer = buffer ? Ref(buffer) : Ref();
    m_boundsStale = 1;
}

void SubMesh::setMaterial(graphics::Material* material)
{
    if (material != this->material())
        m_material = material ? Ref(material) : Ref();
}

void SubMesh::setBounds(const math::Vector3& centre, f32 radius)
{
    m_centre = centre;
    m_radius = radius;
    m_boundsStale = 0;
}

void SubMesh::updateBounds(graphics::VertexBuffer* vb)
{
    m_centre = math::kZeroVector;
    m_radius = 0.0f;
    if (!vb || vb->byteSize() == 0)
        return;
    graphics::IndexBuffer* ib = indexBuffer();
    if (!ib) {
        vb->updateBoundingSphere();
        setBounds({ vb->centre()[0], vb->centre()[1], vb->centre()[2] }, vb->radius());
        return;
    }

    // The vertices the sub-mesh draws: those its indices name, or without
    // indices its range of vertices. Numbers past the end are left out.
    std::vector<math::Vector3> points;
    VertexPositions positions(*vb);
    auto add = [&](u64 vertex) {
        math::Vector3 p;
        if (positions.read(vertex, p))
            points.push_back(p);
    };
    const u64 start = ib->start();
    if (ib->indexCount() != 0) {
        const u64 total = ib->indexCount();
        const u64 end = ib->count() < 0 ? total : std::min<u64>(total, start + static_cast<u64>(ib->count()));
        if (start < end) {
            graphics::IndexIterator index(*ib);
            for (u64 i = start; i < end; ++i)
                add(index.at(i));
        }
    } else {
        const u64 total = positions.count();
        const u64 end = ib->count() < 0 ? total : std::min<u64>(total, start + static_cast<u64>(ib->count()));
        for (u64 v = start; v < end; ++v)
            add(v);
    }

    if (!points.empty()) {
        math::Vector3 min { FLT_MAX, FLT_MAX, FLT_MAX };
        math::Vector3 max { -FLT_MAX, -FLT_MAX, -FLT_MAX };
        for (const math::Vector3& p : points) {
            min = { std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z) };
            max = { std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z) };
        }
        m_centre = (min + max) * 0.5f;
        f32 largest = 0.0f;
        for (const math::Vector3& p : points)
            largest = std::max(largest, (p - m_centre).lengthSquared());
        m_radius = std::sqrt(largest) + 1e-5f;
    }
    m_boundsStale = 0;
}

} // namespace quern::visuals
