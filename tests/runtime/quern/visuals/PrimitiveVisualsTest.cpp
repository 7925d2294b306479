#include "support/RecordingGraphicsBackEnd.h"

#include "quern/graphics/Shader.h"
#include "quern/math/Ray.h"
#include "quern/visuals/PrimitiveVisuals.h"
#include "quern/visuals/RayHit.h"
#include "quern/visuals/SubMesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quern::test {
namespace {

using visuals::BoxVisual;
using visuals::RayHit;
using visuals::SphereVisual;
using Floats = std::vector<f32>;
using Indices = std::vector<u32>;

math::Ray ray(math::Vector3 origin, math::Vector3 direction)
{
    math::Ray r;
    r.origin = origin;
    r.direction = direction;
    return r;
}

Indices indicesOf(graphics::IndexBuffer& ib)
{
    Indices out;
    graphics::IndexIterator it(ib);
    for (; !it.atEnd(); ++it)
        out.push_back(*it);
    return out;
}

// Vertex v as x, y, z, nx, ny, nz, u, v.
Floats vertex(graphics::VertexBuffer& vb, u64 v)
{
    const f32* data = reinterpret_cast<const f32*>(vb.data()) + v * 8;
    return Floats(data, data + 8);
}

const RayHit& hit(const containers::Array& hits, u64 i) { return *hits.at<RayHit*>(i); }

using Primitives = RecordingDisplayTest;

TEST_F(Primitives, TheDefaultBoxIsOneJoinedStripOfThirtyFourIndices)
{
    Ref held(new BoxVisual);
    BoxVisual& box = *held.get<BoxVisual>();
    box.update();
    graphics::VertexBuffer& vb = *box.vertexBuffer();
    EXPECT_EQ(vb.format().stride, 32u);
    ASSERT_EQ(vb.vertexCount(), 24u);
    // Front face, row 0: the top-left corner, then one to the right.
    EXPECT_EQ(vertex(vb, 0), (Floats { -0.5f, 0.5f, 0.5f, 0, 0, 1, 0, 1 }));
    EXPECT_EQ(vertex(vb, 1), (Floats { 0.5f, 0.5f, 0.5f, 0, 0, 1, 1, 1 }));
    // Top face, row 1 column 0: texture u runs backwards.
    EXPECT_EQ(vertex(vb, 18), (Floats { -0.5f, 0.5f, 0.5f, 0, 1, 0, 1, 1 }));
    ASSERT_EQ(box.subMeshCount(), 1u);
    graphics::IndexBuffer& ib = *box.subMesh(0)->indexBuffer();
    EXPECT_EQ(ib.primitiveType(), graphics::PrimitiveType::TriangleStrip);
    const Indices indices = indicesOf(ib);
    ASSERT_EQ(indices.size(), 34u);
    EXPECT_EQ(Indices(indices.begin(), indices.begin() + 8), (Indices { 0, 2, 1, 3, 3, 4, 4, 6 }));
    for (int face = 0; face < BoxVisual::FaceCount; ++face)
        EXPECT_EQ(box.faceSubMesh(BoxVisual::Face(face)), box.subMesh(0));
    EXPECT_EQ(box.computeVolume(), 1.0f);
    EXPECT_TRUE(box.getAuxiliaryFlag());
}

TEST_F(Primitives, SeparateStripsGiveASubMeshEachAndTheFirstItsOwnMaterial)
{
    Ref held(new BoxVisual);
    BoxVisual& box = *held.get<BoxVisual>();
    box.separateStrips = 1;
    box.subdivisions[1] = 2; // two strips on the four faces that span y
    box.update();
    EXPECT_EQ(box.vertexBuffer()->vertexCount(), 2u * (2 * 3 + 2 * 3 + 2 * 2));
    ASSERT_EQ(box.subMeshCount(), 4u * 2 + 2);
    EXPECT_NE(box.subMesh(0)->material(), nullptr);
    EXPECT_EQ(box.subMesh(1)->material(), nullptr);
    EXPECT_EQ(indicesOf(*box.subMesh(0)->indexBuffer()).size(), 4u);
    EXPECT_EQ(box.faceSubMesh(BoxVisual::Back), box.subMesh(2));
    EXPECT_EQ(box.faceSubMesh(BoxVisual::Top), box.subMesh(8));
}

TEST_F(Primitives, TheDefaultSphereMergesItsBands)
{
    Ref held(new SphereVisual);
    SphereVisual& sphere = *held.get<SphereVisual>();
    sphere.update();
    graphics::VertexBuffer& vb = *sphere.vertexBuffer();
    ASSERT_EQ(vb.vertexCount(), 33u * 17u);
    // The top pole, and the seam vertex at the end of the equator.
    EXPECT_NEAR(vertex(vb, 0)[1], 1.0f, 1e-6f);
    const Floats seam = vertex(vb, 8 * 33 + 32);
    EXPECT_NEAR(seam[0], 1.0f, 1e-5f);
    EXPECT_NEAR(seam[2], 0.0f, 1e-5f);
    EXPECT_EQ(seam[6], 1.0f);
    EXPECT_EQ(seam[7], 0.5f);
    ASSERT_EQ(sphere.subMeshCount(), 1u);
    EXPECT_EQ(indicesOf(*sphere.subMesh(0)->indexBuffer()).size(), 16u * 66u + 15u * 2u);
    math::Vector3 centre;
    EXPECT_EQ(sphere.getBoundingSphere(centre), 1.0f);
    EXPECT_NEAR(sphere.computeVolume(), 4.18879f, 1e-5f);

    Ref separate(new SphereVisual);
    separate.get<SphereVisual>()->separateStrips = 1;
    separate.get<SphereVisual>()->update();
    EXPECT_EQ(separate.get<SphereVisual>()->subMeshCount(), 16u);
}

TEST_F(Primitives, BoxPicksEnterOrLeaveThroughTheRightFace)
{
    Ref held(new BoxVisual);
    BoxVisual& box = *held.get<BoxVisual>();
    const struct {
        const char* what;
        math::Ray r;
        math::Matrix4 world;
        u64 hits;
        f32 t;
        Floats normal;
    } cases[] = {
        { "from outside", ray({ 0, 0, -5 }, { 0, 0, 1 }), {}, 1, 4.5f, { 0, 0, -1 } },
        { "from inside", ray({ 0, 0, 0 }, { 0, 0, 1 }), {}, 1, 0.5f, { 0, 0, 1 } },
        { "from above", ray({ 0.2f, 3, 0.1f }, { 0, -2, 0 }), {}, 1, 1.25f, { 0, 1, 0 } },
        { "parallel outside", ray({ 0, 2, -5 }, { 0, 0, 1 }), {}, 0, 0, {} },
        { "pointing away", ray({ 0, 0, -5 }, { 0, 0, -1 }), {}, 0, 0, {} },
        { "past a corner", ray({ -5, 0.9f, 0 }, { 1, 1, 0 }), {}, 0, 0, {} },
    };
    for (const auto& c : cases) {
        const containers::Array& hits = box.raycast(c.r, c.world);
        ASSERT_EQ(hits.count(), c.hits) << c.what;
        if (c.hits == 0)
            continue;
        EXPECT_FLOAT_EQ(hit(hits, 0).t, c.t) << c.what;
        EXPECT_EQ(Floats(hit(hits, 0).normal, hit(hits, 0).normal + 3), c.normal) << c.what;
        EXPECT_EQ(hit(hits, 0).owner, box.getMaterialShader()) << c.what;
    }
    // A moved box: the hit's position is in world space.
    math::Matrix4 moved;
    moved.m[12] = 10;
    const containers::Array& hits = box.raycast(ray({ 10, 0, -5 }, { 0, 0, 1 }), moved);
    ASSERT_EQ(hits.count(), 1u);
    EXPECT_EQ(Floats(hit(hits, 0).position, hit(hits, 0).position + 3), (Floats { 10, 0, -0.5f }));
}

TEST_F(Primitives, SpherePicksFindTheHitsAheadOfTheRay)
{
    Ref held(new SphereVisual);
    SphereVisual& sphere = *held.get<SphereVisual>();
    const containers::Array& both = sphere.raycast(ray({ 0, 0, -5 }, { 0, 0, 1 }), math::Matrix4());
    ASSERT_EQ(both.count(), 2u);
    EXPECT_FLOAT_EQ(hit(both, 0).t, 4.0f);
    EXPECT_FLOAT_EQ(hit(both, 1).t, 6.0f);
    EXPECT_EQ(Floats(hit(both, 0).normal, hit(both, 0).normal + 3), (Floats { 0, 0, -1 }));
    // On the equator facing -z: u = acos(0) / 2 pi = 0.25, v = 0.5.
    EXPECT_NEAR(hit(both, 0).texCoord[0], 0.25f, 1e-6f);
    EXPECT_NEAR(hit(both, 0).texCoord[1], 0.5f, 1e-6f);

    const containers::Array& exit = sphere.raycast(ray({ 0, 0, 0 }, { 0, 0, 1 }), math::Matrix4());
    ASSERT_EQ(exit.count(), 1u);
    EXPECT_FLOAT_EQ(hit(exit, 0).t, 1.0f);

    math::Matrix4 moved;
    moved.m[12] = 5;
    EXPECT_EQ(sphere.raycast(ray({ 0, 0, -5 }, { 0, 0, 1 }), moved).count(), 0u);
}

TEST_F(Primitives, SpherePicksAtThePolesHaveAFiniteTextureCoordinate)
{
    Ref held(new SphereVisual);
    SphereVisual& sphere = *held.get<SphereVisual>();
    const struct {
        math::Ray r;
        f32 v;
    } cases[] = {
        { ray({ 0, -5, 0 }, { 0, 1, 0 }), 0.0f },
        { ray({ 0, 5, 0 }, { 0, -1, 0 }), 1.0f },
    };
    for (const auto& c : cases) {
        const containers::Array& hits = sphere.raycast(c.r, math::Matrix4());
        ASSERT_EQ(hits.count(), 2u);
        EXPECT_EQ(hit(hits, 0).texCoord[0], 0.0f);
        EXPECT_NEAR(hit(hits, 0).texCoord[1], c.v, 1e-6f);
    }
}

TEST_F(Primitives, ClonesCopyTheirSizesAndRebuild)
{
    Ref held(new BoxVisual);
    BoxVisual& box = *held.get<BoxVisual>();
    box.extents[0] = 2;
    box.subdivisions[0] = 3;
    box.update();
    Ref copy(box.clone());
    BoxVisual& other = *copy.get<BoxVisual>();
    EXPECT_EQ(other.extents[0], 2.0f);
    EXPECT_EQ(other.computeVolume(), 2.0f);
    other.update();
    EXPECT_EQ(other.vertexBuffer()->vertexCount(), box.vertexBuffer()->vertexCount());
    EXPECT_NE(other.vertexBuffer(), box.vertexBuffer());
    EXPECT_EQ(other.faceSubMesh(BoxVisual::Front), other.subMesh(0));

    Ref ball(new SphereVisual);
    ball.get<SphereVisual>()->radius = 3;
    ball.get<SphereVisual>()->segments = 16;
    Ref ballCopy(ball.get<SphereVisual>()->clone());
    SphereVisual& sphereCopy = *ballCopy.get<SphereVisual>();
    sphereCopy.update();
    EXPECT_EQ(sphereCopy.vertexBuffer()->vertexCount(), 17u * 9u);
    math::Vector3 half, centre;
    sphereCopy.getBoundingBox(centre, half);
    EXPECT_EQ(half, (math::Vector3 { 3, 3, 3 }));
}

} // namespace
} // namespace quern::test
