#include "support/LogCapture.h"
#include "support/RecordingGraphicsBackEnd.h"

#include "MeshContent.h"

#include "quern/graphics/Shader.h"
#include "quern/io/StringSource.h"
#include "quern/math/Ray.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/visuals/MeshOctree.h"
#include "quern/visuals/MeshSerialization.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/RayHit.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/VertexPositions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using visuals::MeshOctree;
using visuals::MeshVisual;
using visuals::OctreeNode;
using visuals::RayHit;
using Floats = std::vector<f32>;
using Indices = std::vector<u32>;

// A mesh built from OBJ text by the content tool and read back.
Ref meshFromObj(const std::string& obj)
{
    assetbuild::MeshDocument document;
    std::string error;
    EXPECT_TRUE(assetbuild::parseObjMesh(std::vector<u8>(obj.begin(), obj.end()), "m", document, error)) << error;
    std::ostringstream out;
    serialize::BinaryPODToken token;
    assetbuild::writeMeshFile(out, token, document);
    const std::string bytes = out.str();
    Ref held(new MeshVisual);
    StringSource source(bytes.data(), bytes.size());
    visuals::readMesh(source, token, *held.get<MeshVisual>());
    return held;
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

math::Matrix4 translation(f32 x, f32 y, f32 z)
{
    math::Matrix4 m;
    m.m[12] = x;
    m.m[13] = y;
    m.m[14] = z;
    return m;
}

math::Ray ray(math::Vector3 origin, math::Vector3 direction)
{
    math::Ray r;
    r.origin = origin;
    r.direction = direction;
    return r;
}

const RayHit& hit(const containers::Array& hits, u64 i) { return *hits.at<RayHit*>(i); }

// n triangles, each the big triangle below lifted to z = z0 + i.
std::string stackedTriangles(int n, f32 z0 = 0)
{
    std::string obj;
    for (int i = 0; i < n; ++i) {
        const std::string z = std::to_string(z0 + i);
        obj += "v -1 -1 " + z + "\nv 1 -1 " + z + "\nv 0 1 " + z + "\n";
    }
    for (int i = 0; i < n; ++i)
        obj += "f " + std::to_string(3 * i + 1) + " " + std::to_string(3 * i + 2) + " " + std::to_string(3 * i + 3)
            + "\n";
    return obj;
}

using Picking = RecordingDisplayTest;

TEST_F(Picking, ARayThroughTheMovedDemoCubePicksTheExpectedTriangle)
{
    Ref held = meshFromObj(fileText(std::string(QUERN_CONTENT_DIR) + "/meshes/cube.obj"));
    MeshVisual& cube = *held.get<MeshVisual>();
    const math::Matrix4 world = translation(10, 0, 0);
    const containers::Array& hits = cube.raycast(ray({ 10.2f, -0.3f, -5 }, { 0, 0, 1 }), world);
    ASSERT_EQ(hits.count(), 2u);
    // The back face first: it faces the ray. The OBJ's first quad is
    // vertices 0-3, fanned into (0, 1, 2) and (0, 2, 3).
    const RayHit* back = &hit(hits, 0);
    const RayHit* front = &hit(hits, 1);
    if (back->t > front->t)
        std::swap(back, front);
    EXPECT_FLOAT_EQ(back->t, 4.5f);
    EXPECT_EQ(back->frontFacing, 1u);
    EXPECT_EQ(Indices(back->indices, back->indices + 3), (Indices { 0, 1, 2 }));
    EXPECT_FLOAT_EQ(back->position[0], 10.2f);
    EXPECT_FLOAT_EQ(back->position[1], -0.3f);
    EXPECT_FLOAT_EQ(back->position[2], -0.5f);
    EXPECT_EQ(Floats(back->normal, back->normal + 3), (Floats { 0, 0, -1 }));
    EXPECT_NEAR(back->texCoord[0], 0.3f, 1e-6f);
    EXPECT_NEAR(back->texCoord[1], 0.2f, 1e-6f);
    // The far face is met from inside.
    EXPECT_FLOAT_EQ(front->t, 5.5f);
    EXPECT_EQ(front->frontFacing, 0u);
    EXPECT_EQ(Floats(front->normal, front->normal + 3), (Floats { 0, 0, 1 }));
}

TEST_F(Picking, NormalsTurnWithTheWorldAndFaceNormalsStayInTheVisualsSpace)
{
    // A quarter turn about Z: +X goes to +Y.
    math::Matrix4 turn;
    turn.m[0] = 0;
    turn.m[1] = 1;
    turn.m[4] = -1;
    turn.m[5] = 0;
    Ref withNormals = meshFromObj("v 0 -1 -1\nv 0 1 -1\nv 0 0 1\nvn 1 0 0\nf 1//1 2//1 3//1\n");
    const containers::Array& a = withNormals.get<MeshVisual>()->raycast(ray({ 0, 5, 0 }, { 0, -1, 0 }), turn);
    ASSERT_EQ(a.count(), 1u);
    EXPECT_NEAR(hit(a, 0).normal[0], 0, 1e-6f);
    EXPECT_NEAR(hit(a, 0).normal[1], 1, 1e-6f);
    EXPECT_EQ(Floats(hit(a, 0).texCoord, hit(a, 0).texCoord + 2), (Floats { 0, 0 }));

    Ref plain = meshFromObj("v 0 -1 -1\nv 0 1 -1\nv 0 0 1\nf 1 2 3\n");
    const containers::Array& b = plain.get<MeshVisual>()->raycast(ray({ 0, 5, 0 }, { 0, -1, 0 }), turn);
    ASSERT_EQ(b.count(), 1u);
    // (L - K) x (M - K) = (0, 2, 0) x (0, 1, 2) = (4, 0, 0): +X in the visual's own space.
    EXPECT_EQ(Floats(hit(b, 0).normal, hit(b, 0).normal + 3), (Floats { 1, 0, 0 }));
}

TEST_F(Picking, BackFacesHitWhileRaysInThePlaneOrBehindMiss)
{
    Ref held = meshFromObj("v -1 -1 0\nv 1 -1 0\nv 0 1 0\nf 1 2 3\n");
    MeshVisual& mesh = *held.get<MeshVisual>();
    const math::Matrix4 identity;
    const struct {
        const char* what;
        math::Ray r;
        u64 hits;
        u8 front;
    } cases[] = {
        { "from the front", ray({ 0, 0, 3 }, { 0, 0, -1 }), 1, 1 },
        { "from behind", ray({ 0, 0, -3 }, { 0, 0, 1 }), 1, 0 },
        { "in the plane", ray({ -5, 0, 0 }, { 1, 0, 0 }), 0, 0 },
        { "pointing away", ray({ 0, 0, 3 }, { 0, 0, 1 }), 0, 0 },
        { "beside it", ray({ 2, 2, 3 }, { 0, 0, -1 }), 0, 0 },
    };
    for (const auto& c : cases) {
        const containers::Array& hits = mesh.raycast(c.r, identity);
        ASSERT_EQ(hits.count(), c.hits) << c.what;
        if (c.hits) {
            EXPECT_EQ(hit(hits, 0).frontFacing, c.front) << c.what;
        }
    }
}

TEST_F(Picking, ATriangleInTwoLeavesIsHitOnce)
{
    // The triangle lies on the plane between the lower and upper halves of the
    // octree, so both leaves along the ray list it.
    Ref held = meshFromObj("v -1 -1 0\nv 1 -1 0\nv 0 1 0\nf 1 2 3\n");
    MeshVisual& mesh = *held.get<MeshVisual>();
    const math::Ray r = ray({ 0.1f, 0.1f, 5 }, { 0, 0, -1 });
    std::vector<const OctreeNode*> leaves;
    MeshOctree::collectLeaves(*mesh.getOctree(), r, leaves);
    EXPECT_GE(leaves.size(), 2u);
    EXPECT_EQ(mesh.raycast(r, math::Matrix4()).count(), 1u);
}

TEST_F(Picking, APickStopsAtAHundredHitsInTheOrderFound)
{
    Ref held = meshFromObj(stackedTriangles(150));
    MeshVisual& mesh = *held.get<MeshVisual>();
    const containers::Array& hits = mesh.raycast(ray({ 0, 0, -10 }, { 0, 0, 1 }), math::Matrix4());
    EXPECT_EQ(hits.count(), 100u);
    // A second pick reuses the records of the first.
    const u64 pooled = visuals::rayHitPoolCapacity();
    mesh.raycast(ray({ 0, 0, -10 }, { 0, 0, 1 }), math::Matrix4());
    EXPECT_EQ(visuals::rayHitPoolCapacity(), pooled);
}

TEST_F(Picking, AChildReachedByAHundredTrianglesIsSplitAndByNinetyNineIsALeaf)
{
    for (const int n : { 99, 100 }) {
        SCOPED_TRACE(n);
        // All triangles in the (+, +, +) child of a root centred on the origin.
        std::string obj;
        for (int i = 0; i < n; ++i) {
            const std::string z = std::to_string(0.2 + 0.005 * i);
            obj += "v 0.2 0.2 " + z + "\nv 0.4 0.2 " + z + "\nv 0.3 0.4 " + z + "\n";
        }
        for (int i = 0; i < n; ++i)
            obj += "f " + std::to_string(3 * i + 1) + " " + std::to_string(3 * i + 2) + " " + std::to_string(3 * i + 3)
                + "\n";
        Ref held = meshFromObj(obj);
        MeshVisual& mesh = *held.get<MeshVisual>();
        containers::Array triangles(sizeof(visuals::TriangleRecord), alignof(visuals::TriangleRecord));
        mesh.buildTriangleList(triangles);
        ASSERT_EQ(triangles.count(), u64(n));
        OctreeNode root;
        root.edge = 2;
        {
            visuals::VertexPositions positions(*mesh.vertexBuffer());
            MeshOctree::split(root, triangles, positions, 5, *memory::getDefaultAllocator());
        }
        ASSERT_NE(root.firstChild, nullptr);
        const OctreeNode& child = *root.firstChild;
        EXPECT_EQ(child.nextSibling, nullptr);
        EXPECT_EQ(Floats(child.centre, child.centre + 3), (Floats { 0.5f, 0.5f, 0.5f }));
        EXPECT_EQ(child.edge, 1.0f);
        EXPECT_EQ(child.firstChild != nullptr, n == 100);
        EXPECT_EQ(child.triangles.count(), n == 100 ? 0u : 99u);
        MeshOctree::destroy(root.firstChild, *memory::getDefaultAllocator());
    }
}

TEST_F(Picking, ChildrenAreListedInReverseCreationOrder)
{
    // One small triangle in each of the (-,-,-) and (+,+,+) children.
    Ref held = meshFromObj("v -0.6 -0.6 -0.6\nv -0.5 -0.6 -0.6\nv -0.6 -0.5 -0.6\n"
                           "v 0.6 0.6 0.6\nv 0.5 0.6 0.6\nv 0.6 0.5 0.6\nf 1 2 3\nf 4 5 6\n");
    MeshVisual& mesh = *held.get<MeshVisual>();
    const OctreeNode& root = *mesh.getOctree();
    ASSERT_NE(root.firstChild, nullptr);
    ASSERT_NE(root.firstChild->nextSibling, nullptr);
    EXPECT_GT(root.firstChild->centre[0], 0);
    EXPECT_LT(root.firstChild->nextSibling->centre[0], 0);
    EXPECT_EQ(root.firstChild->nextSibling->nextSibling, nullptr);
}

TEST(MeshOctreeBox, RaysAgainstTheUnitBox)
{
    OctreeNode node;
    node.edge = 2; // -1 to 1
    const struct {
        const char* what;
        math::Ray r;
        bool hit;
    } cases[] = {
        { "origin inside", ray({ 0.5f, 0.5f, 0.5f }, { 0, 0, 0 }), true },
        { "from outside towards it", ray({ -5, 0, 0 }, { 1, 0, 0 }), true },
        { "pointing away", ray({ -5, 0, 0 }, { -1, 0, 0 }), false },
        { "parallel to a face outside", ray({ -5, 2, 0 }, { 1, 0, 0 }), false },
        { "touching an edge", ray({ -5, 1, 1 }, { 1, 0, 0 }), true },
        { "diagonal miss", ray({ -5, 0, 0 }, { 1, 1.5f, 0 }), false },
        { "diagonal hit", ray({ -5, -3, 0 }, { 1, 0.5f, 0 }), true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(MeshOctree::rayHitsBox(node, c.r), c.hit) << c.what;
}

TEST(MeshOctreeBox, TouchingTrianglesOverlap)
{
    // Box -1..1 on every axis.
    OctreeNode node;
    node.edge = 2;
    const struct {
        const char* what;
        std::vector<f32> corners;
        bool overlap;
    } cases[] = {
        { "inside", { 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 0 }, true },
        { "touching a face", { 1, 0, 0, 2, 0, 0, 2, 1, 0 }, true },
        { "beyond a face", { 1.01f, 0, 0, 2, 0, 0, 2, 1, 0 }, false },
        { "cutting past a corner", { 0.5f, 3, 0, 3, 0.5f, 0, 3, 3, 0 }, false },
        { "through the middle", { -5, -5, 0, 5, -5, 0, 0, 5, 0 }, true },
    };
    RecordingGraphicsBackEnd device;
    for (const auto& c : cases) {
        Ref held(new graphics::VertexBuffer(graphics::BufferUsage::Static));
        graphics::VertexBuffer& vb = *held.getCounted<graphics::VertexBuffer>();
        vb.setVertexFormat(graphics::vertexFormatFromString("position"));
        vb.resizeElements(3);
        std::memcpy(vb.lockVertices(containers::BufferBase::Lock::Write, 0, 3), c.corners.data(), 36);
        vb.unlockVertices();
        visuals::VertexPositions positions(vb);
        visuals::TriangleRecord record { nullptr, { 0, 1, 2 }, {} };
        math::Vector3 k, l, m;
        positions.read(0, k);
        positions.read(1, l);
        positions.read(2, m);
        MeshOctree::faceNormal(k, l, m, record.normal);
        EXPECT_EQ(MeshOctree::triangleOverlapsBox(node, record, positions), c.overlap) << c.what;
    }
}

TEST_F(Picking, SubMeshesWithoutAPassKeepTheOwnerBeforeThem)
{
    Ref held = meshFromObj("v 0 0 0\nv 1 0 0\nv 0 1 0\ng a\nf 1 2 3\ng b\nf 1 3 2\n");
    MeshVisual& mesh = *held.get<MeshVisual>();
    Ref pass(new graphics::Shader());
    mesh.subMesh(0)->setMaterial(pass.get<graphics::Material>());
    containers::Array triangles(sizeof(visuals::TriangleRecord), alignof(visuals::TriangleRecord));
    mesh.buildTriangleList(triangles);
    ASSERT_EQ(triangles.count(), 2u);
    graphics::Shader* owner = pass.get<graphics::Material>()->getShader();
    EXPECT_NE(owner, nullptr);
    EXPECT_EQ(triangles.at<visuals::TriangleRecord>(0).owner, owner);
    EXPECT_EQ(triangles.at<visuals::TriangleRecord>(1).owner, owner);
}

TEST_F(Picking, DegenerateTrianglesAreLeftOutAndNoTrianglesWarn)
{
    Ref held = meshFromObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 1 2\n");
    MeshVisual& mesh = *held.get<MeshVisual>();
    containers::Array triangles(sizeof(visuals::TriangleRecord), alignof(visuals::TriangleRecord));
    mesh.buildTriangleList(triangles);
    EXPECT_EQ(triangles.count(), 1u);

    Ref empty(new MeshVisual);
    empty.get<MeshVisual>()->setName("nothing");
    LogCapture log(2);
    EXPECT_EQ(empty.get<MeshVisual>()->raycast(ray({ 0, 0, 5 }, { 0, 0, -1 }), math::Matrix4()).count(), 0u);
    EXPECT_TRUE(log.contains("Visual 'nothing' with empty topology (no triangles)!"));
}

} // namespace
} // namespace quern::test
