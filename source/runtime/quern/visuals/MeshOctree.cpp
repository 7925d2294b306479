#include "quern/visuals/MeshOctree.h"

#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/visuals/VertexPositions.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace quern::visuals {
namespace {

constexpr f64 kShortestNormal = 2.220446049250313e-16;

struct Corners {
    math::Vector3 v[3];
};

bool corners(const TriangleRecord& record, const VertexPositions& vertices, Corners& out)
{
    return vertices.read(record.indices[0], out.v[0]) && vertices.read(record.indices[1], out.v[1])
        && vertices.read(record.indices[2], out.v[2]);
}

f32 component(const math::Vector3& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// Separated when the box's interval [centre - radius, centre + radius] and the
// triangle's do not meet; touching intervals meet.
bool separated(f32 a, f32 b, f32 c, f32 centre, f32 radius)
{
    const f32 low = std::min({ a, b, c });
    const f32 high = std::max({ a, b, c });
    return centre - radius > high || centre + radius < low;
}

} // namespace

void MeshOctree::faceNormal(const math::Vector3& k, const math::Vector3& l, const math::Vector3& m, f32 out[3])
{
    const f64 e1[3] = { f64(l.x) - k.x, f64(l.y) - k.y, f64(l.z) - k.z };
    const f64 e2[3] = { f64(m.x) - k.x, f64(m.y) - k.y, f64(m.z) - k.z };
    const f64 n[3] = { e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0] };
    const f64 length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length < kShortestNormal) {
        out[0] = 0;
        out[1] = 0;
        out[2] = 1;
        return;
    }
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<f32>(n[i] / length);
}

OctreeNode* MeshOctree::allocateNode(memory::Allocator& allocator)
{
    void* memory = allocator.allocate(sizeof(OctreeNode), alignof(OctreeNode));
    if (!memory)
        QUERN_OUT_OF_MEMORY();
    return new (memory) OctreeNode();
}

void MeshOctree::destroy(OctreeNode* node, memory::Allocator& allocator)
{
    while (node) {
        OctreeNode* next = node->nextSibling;
        destroy(node->firstChild, allocator);
        node->~OctreeNode();
        allocator.free(node);
        node = next;
    }
}

void MeshOctree::split(OctreeNode& node, const containers::Array& triangles, const VertexPositions& vertices, u32 depth,
    memory::Allocator& allocator)
{
    const f32 q = node.edge * 0.25f;
    OctreeNode* spare = nullptr;
    containers::Array scratch(sizeof(TriangleRecord), alignof(TriangleRecord));
    for (int child = 0; child < 8; ++child) {
        OctreeNode* next = spare ? spare : allocateNode(allocator);
        spare = nullptr;
        // x varies slowest and z fastest, minus before plus.
        next->centre[0] = node.centre[0] + ((child & 4) ? q : -q);
        next->centre[1] = node.centre[1] + ((child & 2) ? q : -q);
        next->centre[2] = node.centre[2] + ((child & 1) ? q : -q);
        next->centre[3] = 1;
        next->edge = node.edge * 0.5f;
        for (u64 i = 0; i < triangles.count(); ++i) {
            const TriangleRecord& record = triangles.at<TriangleRecord>(i);
            if (triangleOverlapsBox(*next, record, vertices))
                *static_cast<TriangleRecord*>(scratch.expand(scratch.count() + 1)) = record;
        }
        if (scratch.isEmpty()) {
            spare = next;
            continue;
        }
        next->nextSibling = node.firstChild;
        node.firstChild = next;
        if (scratch.count() > kLeafLimit && depth > 0) {
            split(*next, scratch, vertices, depth - 1, allocator);
            scratch.clear();
        } else {
            next->triangles = std::move(scratch);
            scratch = containers::Array(sizeof(TriangleRecord), alignof(TriangleRecord));
        }
    }
    if (spare) {
        spare->~OctreeNode();
        allocator.free(spare);
    }
}

bool MeshOctree::triangleOverlapsBox(
    const OctreeNode& node, const TriangleRecord& record, const VertexPositions& vertices)
{
    Corners t;
    if (!corners(record, vertices, t))
        return false;
    const f32 h = node.edge * 0.5f;
    const math::Vector3 centre { node.centre[0], node.centre[1], node.centre[2] };
    for (int axis = 0; axis < 3; ++axis)
        if (separated(
                component(t.v[0], axis), component(t.v[1], axis), component(t.v[2], axis), component(centre, axis), h))
            return false;

    const math::Vector3 n { record.normal[0], record.normal[1], record.normal[2] };
    const f32 planeRadius = h * (std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z));
    if (separated(math::dot(n, t.v[0]), math::dot(n, t.v[1]), math::dot(n, t.v[2]), math::dot(n, centre), planeRadius))
        return false;

    const math::Vector3 edges[3] = { t.v[1] - t.v[0], t.v[2] - t.v[1], t.v[0] - t.v[2] };
    const math::Vector3 boxAxes[3] = { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } };
    for (const math::Vector3& boxAxis : boxAxes) {
        for (const math::Vector3& edge : edges) {
            const math::Vector3 a = math::cross(boxAxis, edge);
            const f32 radius = h * (std::fabs(a.x) + std::fabs(a.y) + std::fabs(a.z));
            if (separated(
                    math::dot(a, t.v[0]), math::dot(a, t.v[1]), math::dot(a, t.v[2]), math::dot(a, centre), radius))
                return false;
        }
    }
    return true;
}

bool MeshOctree::rayHitsBox(const OctreeNode& node, const math::Ray& ray)
{
    const f32 h = node.edge * 0.5f;
    f32 low[3], high[3], candidate[3];
    bool inside[3];
    for (int axis = 0; axis < 3; ++axis) {
        low[axis] = node.centre[axis] - h;
        high[axis] = node.centre[axis] + h;
        const f32 origin = component(ray.origin, axis);
        inside[axis] = false;
        if (origin < low[axis])
            candidate[axis] = low[axis];
        else if (origin > high[axis])
            candidate[axis] = high[axis];
        else
            inside[axis] = true;
    }
    if (inside[0] && inside[1] && inside[2])
        return true;
    f32 t[3];
    for (int axis = 0; axis < 3; ++axis) {
        const f32 direction = component(ray.direction, axis);
        t[axis]
            = (!inside[axis] && direction != 0) ? (candidate[axis] - component(ray.origin, axis)) / direction : -1.0f;
    }
    int chosen = 0;
    for (int axis = 1; axis < 3; ++axis)
        if (t[axis] > t[chosen])
            chosen = axis;
    if (t[chosen] < 0)
        return false;
    for (int axis = 0; axis < 3; ++axis) {
        if (axis == chosen)
            continue;
        const f32 at = component(ray.origin, axis) + t[chosen] * component(ray.direction, axis);
        if (at < low[axis] || at > high[axis])
            return false;
    }
    return true;
}

void MeshOctree::collectLeaves(const OctreeNode& node, const math::Ray& ray, std::vector<const OctreeNode*>& leaves)
{
    for (const OctreeNode* child = node.firstChild; child; child = child->nextSibling) {
        if (!rayHitsBox(*child, ray))
            continue;
        if (!child->triangles.isEmpty())
            leaves.push_back(child);
        else
            collectLeaves(*child, ray, leaves);
    }
}

} // namespace quern::visuals
