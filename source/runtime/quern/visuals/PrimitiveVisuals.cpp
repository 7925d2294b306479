#include "quern/visuals/PrimitiveVisuals.h"

#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Ray.h"
#include "quern/visuals/RayHit.h"
#include "quern/visuals/SubMesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quern::visuals {
namespace {

constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr f32 kPi = 3.14159265358979f;
constexpr f32 kInversePi = 0.31830987f;
constexpr f32 kInverseTwoPi = 0.15915494f;

struct PrimitiveVertex {
    f32 position[3];
    f32 normal[3];
    f32 texCoord[2];
};
static_assert(sizeof(PrimitiveVertex) == 32);

graphics::VertexBuffer& prepareVertices(Visual& visual, u64 count)
{
    graphics::VertexBuffer& vb = *visual.getVertexBuffer(kStaticDraw);
    graphics::VertexFormat format;
    format.addAttribute(graphics::VertexAttribute::position());
    format.addAttribute(graphics::VertexAttribute::normal());
    format.addAttribute(graphics::VertexAttribute::texCoord(0));
    vb.setVertexFormat(format);
    vb.resizeElements(count);
    return vb;
}

void writeVertices(graphics::VertexBuffer& vb, const std::vector<PrimitiveVertex>& vertices)
{
    u8* data = vb.lockVertices(containers::BufferBase::Lock::Write, 0, vertices.size());
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(PrimitiveVertex));
    vb.unlockVertices();
}

// A new sub-mesh drawing `indices` as a triangle strip, in the smallest index
// size that holds its vertex numbers.
SubMesh* addStrip(Visual& visual, const std::vector<u32>& indices, graphics::Material* material)
{
    SubMesh* subMesh = visual.addSubMesh(material);
    graphics::IndexBuffer& ib = *subMesh->indexBuffer();
    ib.setPrimitiveType(graphics::PrimitiveType::TriangleStrip);
    ib.setIndexSizeFor(indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end()));
    ib.resizeElements(indices.size());
    u8* data = ib.lockIndices(containers::BufferBase::Lock::Write, 0, indices.size());
    const u64 size = ib.indexSize();
    for (u64 i = 0; i < indices.size(); ++i)
        for (u64 b = 0; b < size; ++b)
            data[i * size + b] = static_cast<u8>(indices[i] >> (8 * b));
    ib.unlockIndices();
    return subMesh;
}

struct FaceGrid {
    u32 rows;
    u32 columns;
};

PrimitiveVertex boxVertex(int face, f32 g, f32 i, const f32 e[3], const f32 h[3])
{
    // g and i are the row and column fractions of the face.
    switch (face) {
    case BoxVisual::Front:
        return { { i * e[0] - h[0], h[1] - g * e[1], h[2] }, { 0, 0, 1 }, { i, 1 - g } };
    case BoxVisual::Back:
        return { { h[0] - i * e[0], h[1] - g * e[1], -h[2] }, { 0, 0, -1 }, { i, 1 - g } };
    case BoxVisual::Left:
        return { { -h[0], h[1] - g * e[1], i * e[2] - h[2] }, { -1, 0, 0 }, { i, 1 - g } };
    case BoxVisual::Right:
        return { { h[0], h[1] - g * e[1], h[2] - i * e[2] }, { 1, 0, 0 }, { i, 1 - g } };
    case BoxVisual::Top:
        return { { i * e[0] - h[0], h[1], g * e[2] - h[2] }, { 0, 1, 0 }, { 1 - i, g } };
    default:
        return { { i * e[0] - h[0], -h[1], h[2] - g * e[2] }, { 0, -1, 0 }, { 1 - i, g } };
    }
}

} // namespace

BoxVisual::BoxVisual(const BoxVisual& other)
    : Visual(other)
    , separateStrips(other.separateStrips)
{
    std::copy(other.extents, other.extents + 3, extents);
    std::copy(other.subdivisions, other.subdivisions + 3, subdivisions);
    std::copy(other.m_faces, other.m_faces + FaceCount, m_faces);
}

void BoxVisual::buildGeometry()
{
    const u32 sx = static_cast<u32>(std::max(subdivisions[0], 1));
    const u32 sy = static_cast<u32>(std::max(subdivisions[1], 1));
    const u32 sz = static_cast<u32>(std::max(subdivisions[2], 1));
    const FaceGrid grids[FaceCount] = { { sy + 1, sx + 1 }, { sy + 1, sx + 1 }, { sy + 1, sz + 1 }, { sy + 1, sz + 1 },
        { sz + 1, sx + 1 }, { sz + 1, sx + 1 } };
    const u32 cells[FaceCount][2] = { { sy, sx }, { sy, sx }, { sy, sz }, { sy, sz }, { sz, sx }, { sz, sx } };
    const f32 half[3] = { extents[0] * 0.5f, extents[1] * 0.5f, extents[2] * 0.5f };

    std::vector<PrimitiveVertex> vertices;
    vertices.reserve(2 * ((sx + 1) * (sy + 1) + (sz + 1) * (sy + 1) + (sx + 1) * (sz + 1)));
    u32 bases[FaceCount];
    for (int face = 0; face < FaceCount; ++face) {
        bases[face] = static_cast<u32>(vertices.size());
        for (u32 g = 0; g < grids[face].rows; ++g)
            for (u32 i = 0; i < grids[face].columns; ++i)
                vertices.push_back(
                    boxVertex(face, f32(g) / f32(cells[face][0]), f32(i) / f32(cells[face][1]), extents, half));
    }
    graphics::VertexBuffer& vb = prepareVertices(*this, vertices.size());
    writeVertices(vb, vertices);
    removeAllSubMeshes();

    std::vector<std::vector<u32>> strips[FaceCount];
    for (int face = 0; face < FaceCount; ++face) {
        const FaceGrid grid = grids[face];
        for (u32 k = 0; k + 1 < grid.rows; ++k) {
            std::vector<u32> strip;
            for (u32 j = 0; j < grid.columns; ++j) {
                strip.push_back(bases[face] + k * grid.columns + j);
                strip.push_back(bases[face] + (k + 1) * grid.columns + j);
            }
            strips[face].push_back(std::move(strip));
        }
    }
    if (separateStrips) {
        for (int face = 0; face < FaceCount; ++face)
            for (u64 k = 0; k < strips[face].size(); ++k) {
                SubMesh* subMesh = addStrip(*this, strips[face][k], nullptr);
                if (k == 0)
                    m_faces[face] = subMesh;
            }
        Ref own(new graphics::Shader());
        subMesh(0)->setMaterial(own.get<graphics::Material>());
        return;
    }
    // One strip through every face, joined by repeating the last index of one
    // strip and the first of the next.
    std::vector<u32> joined;
    for (const auto& face : strips)
        for (const std::vector<u32>& strip : face) {
            if (!joined.empty()) {
                joined.push_back(joined.back());
                joined.push_back(strip.front());
            }
            joined.insert(joined.end(), strip.begin(), strip.end());
        }
    SubMesh* whole = addStrip(*this, joined, nullptr);
    std::fill(m_faces, m_faces + FaceCount, whole);
}

const containers::Array& BoxVisual::raycast(const math::Ray& worldRay, const math::Matrix4& world)
{
    clearHits();
    const math::Ray ray = worldRay.toLocalSpace(world);
    const f32 half[3] = { extents[0] * 0.5f, extents[1] * 0.5f, extents[2] * 0.5f };
    const f32 origin[3] = { ray.origin.x, ray.origin.y, ray.origin.z };
    const f32 direction[3] = { ray.direction.x, ray.direction.y, ray.direction.z };
    f32 entering = -INFINITY, leaving = INFINITY;
    f32 enteringNormal[3] = {}, leavingNormal[3] = {};
    for (int axis = 0; axis < 3; ++axis) {
        if (direction[axis] == 0) {
            if (origin[axis] < -half[axis] || origin[axis] > half[axis])
                return hits();
            continue;
        }
        const f32 atMinimum = (-half[axis] - origin[axis]) / direction[axis];
        const f32 atMaximum = (half[axis] - origin[axis]) / direction[axis];
        const bool minimumFirst = atMinimum < atMaximum;
        const f32 near = minimumFirst ? atMinimum : atMaximum;
        const f32 far = minimumFirst ? atMaximum : atMinimum;
        if (near > entering) {
            entering = near;
            std::fill(enteringNormal, enteringNormal + 3, 0.0f);
            enteringNormal[axis] = minimumFirst ? -1.0f : 1.0f;
        }
        if (far < leaving) {
            leaving = far;
            std::fill(leavingNormal, leavingNormal + 3, 0.0f);
            leavingNormal[axis] = minimumFirst ? 1.0f : -1.0f;
        }
    }
    // A ray without direction never leaves.
    if (leaving < entering || leaving < 0 || !std::isfinite(leaving))
        return hits();
    const bool enters = entering > 0;
    RayHit& hit = *allocateHit();
    hit.t = enters ? entering : leaving;
    std::copy_n(enters ? enteringNormal : leavingNormal, 3, hit.normal);
    const math::Vector3 at = worldRay.origin + worldRay.direction * hit.t;
    hit.position[0] = at.x;
    hit.position[1] = at.y;
    hit.position[2] = at.z;
    hit.owner = getMaterialShader();
    return hits();
}

SphereVisual::SphereVisual(const SphereVisual& other)
    : Visual(other)
    , radius(other.radius)
    , segments(other.segments)
    , separateStrips(other.separateStrips)
{
}

void SphereVisual::buildGeometry()
{
    const u32 n = static_cast<u32>(std::max(segments, 2));
    const u32 m = n / 2;
    std::vector<PrimitiveVertex> vertices;
    vertices.reserve((n + 1) * (m + 1));
    for (u32 i = 0; i <= m; ++i) {
        const f32 y = radius * std::cos(f32(i) * kPi / f32(m));
        const f32 w = std::sqrt(std::max(radius * radius - y * y, 0.0f));
        for (u32 j = 0; j <= n; ++j) {
            const f32 theta = f32(j) / f32(n) * 2.0f * kPi;
            PrimitiveVertex v { { w * std::cos(theta), y, -w * std::sin(theta) }, {},
                { f32(j) / f32(n), 1 - f32(i) / f32(m) } };
            const f32 length = std::sqrt(
                v.position[0] * v.position[0] + v.position[1] * v.position[1] + v.position[2] * v.position[2]);
            for (int axis = 0; axis < 3; ++axis)
                v.normal[axis] = length > 0 ? v.position[axis] / length : 0.0f;
            vertices.push_back(v);
        }
    }
    graphics::VertexBuffer& vb = prepareVertices(*this, vertices.size());
    writeVertices(vb, vertices);
    removeAllSubMeshes();
    for (u32 i = 0; i < m; ++i) {
        std::vector<u32> band;
        for (u32 j = 0; j <= n; ++j) {
            band.push_back(i * (n + 1) + j);
            band.push_back((i + 1) * (n + 1) + j);
        }
        addStrip(*this, band, nullptr);
    }
    if (!separateStrips)
        mergeSubMeshes();
}

f32 SphereVisual::getBoundingSphere(math::Vector3& centre)
{
    centre = math::kZeroVector;
    return radius;
}

void SphereVisual::getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents)
{
    centre = math::kZeroVector;
    halfExtents = { radius, radius, radius };
}

const containers::Array& SphereVisual::raycast(const math::Ray& ray, const math::Matrix4& world)
{
    clearHits();
    const math::Vector3 centre { world.m[12], world.m[13], world.m[14] };
    const math::Vector3 offset = ray.origin - centre;
    const f32 a = math::dot(ray.direction, ray.direction);
    const f32 b = 2.0f * math::dot(ray.direction, offset);
    const f32 c = math::dot(offset, offset) - radius * radius;
    const f32 discriminant = b * b - 4.0f * a * c;
    if (a == 0 || discriminant < 0)
        return hits();
    const f32 root = std::sqrt(discriminant);
    const f32 roots[2] = { (-b - root) / (2.0f * a), (-b + root) / (2.0f * a) };
    for (int k = 0; k < 2; ++k) {
        const f32 t = roots[k];
        if (t <= 0)
            continue;
        RayHit& hit = *allocateHit();
        hit.t = t;
        const math::Vector3 at = ray.origin + ray.direction * t;
        hit.position[0] = at.x;
        hit.position[1] = at.y;
        hit.position[2] = at.z;
        math::Vector3 normal = at - centre;
        const f32 length = normal.length();
        normal = length > 0 ? normal * (1.0f / length) : math::Vector3 { 0, 0, 1 };
        hit.normal[0] = normal.x;
        hit.normal[1] = normal.y;
        hit.normal[2] = normal.z;
        hit.owner = getMaterialShader();
        if (k == 0) {
            const f32 polar = std::acos(std::clamp(-normal.y, -1.0f, 1.0f));
            const f32 ring = std::sin(polar);
            // At the poles every longitude meets: u is 0 there rather than 0 / 0.
            if (ring > 0) {
                const f32 u = std::acos(std::clamp(normal.x / ring, -1.0f, 1.0f)) * kInverseTwoPi;
                hit.texCoord[0] = -normal.z > 0 ? u : 1 - u;
            }
            hit.texCoord[1] = polar * kInversePi;
        }
    }
    return hits();
}

} // namespace quern::visuals
