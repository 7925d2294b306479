#pragma once
// What a visual builds on its first ray pick: a flat list of its triangles
// and an octree over them, so a pick tests only the triangles of the leaves
// whose boxes the ray meets. Nodes are cubes; children are linked in a list.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/math/Ray.h"

#include <vector>

namespace quern::graphics {
class Shader;
}
namespace quern::memory {
class Allocator;
}

namespace quern::visuals {

class VertexPositions;

// One triangle of a visual: the pass of its sub-mesh, its vertex numbers and
// its unit face normal in the visual's space.
struct TriangleRecord {
    graphics::Shader* owner;
    u32 indices[3];
    f32 normal[3];
};

struct OctreeNode {
    f32 centre[4] = { 0, 0, 0, 1 };
    f32 edge = 0; // the box is centre +- edge / 2 on every axis
    // Copies of the records that reach the node; not empty exactly in leaves.
    containers::Array triangles { sizeof(TriangleRecord), alignof(TriangleRecord) };
    OctreeNode* firstChild = nullptr;
    OctreeNode* nextSibling = nullptr;
};

class MeshOctree {
public:
    // Leaves lie at most this many splits below the root.
    static constexpr u32 kRootDepth = 5;
    // A child reached by more records than this is split again.
    static constexpr u64 kLeafLimit = 99;

    // (L - K) x (M - K) normalised in double precision; (0, 0, 1) when it is
    // too short to have a direction.
    static void faceNormal(const math::Vector3& k, const math::Vector3& l, const math::Vector3& m, f32 out[3]);
    // Makes the node's non-empty children from `triangles`, in front of its
    // child list; a child with more than kLeafLimit records is split again
    // while depth allows. Node allocation failure is fatal.
    static void split(OctreeNode& node, const containers::Array& triangles, const VertexPositions& vertices, u32 depth,
        memory::Allocator& allocator);
    // The separating-axis test; touching counts as overlap.
    static bool triangleOverlapsBox(
        const OctreeNode& node, const TriangleRecord& record, const VertexPositions& vertices);
    static bool rayHitsBox(const OctreeNode& node, const math::Ray& ray);
    // The leaves below `node` whose boxes (and whose parents' boxes) the ray meets, in list order.
    static void collectLeaves(const OctreeNode& node, const math::Ray& ray, std::vector<const OctreeNode*>& leaves);
    static OctreeNode* allocateNode(memory::Allocator& allocator);
    // Frees the node and everything below it, depth first.
    static void destroy(OctreeNode* node, memory::Allocator& allocator);
};

} // namespace quern::visuals
