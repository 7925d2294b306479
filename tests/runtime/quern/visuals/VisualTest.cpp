#include "support/RecordingGraphicsBackEnd.h"

#include "support/BufferContents.h"

#include "quern/graphics/Shader.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Node.h"
#include "quern/visuals/MeshVisual.h"
#include "quern/visuals/SubMesh.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

namespace quern::test {
namespace {

using graphics::IndexBuffer;
using graphics::VertexBuffer;
using visuals::MeshVisual;
using visuals::SubMesh;
using visuals::Visual;
using Lock = containers::BufferBase::Lock;
constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr u32 kDynamicDraw = graphics::BufferUsage::Dynamic | graphics::BufferUsage::Draw;

// A visual whose build and refresh the test watches.
class TestVisual final : public Visual {
public:
    void buildGeometry() override
    {
        ++builds;
        if (dropMaterial)
            setMaterial(nullptr);
    }
    void refreshGeometry() override { ++refreshes; }
    bool getAuxiliaryFlag() override { return false; }
    Visual* clone() const override { return new TestVisual(*this); }

    int builds = 0;
    int refreshes = 0;
    bool dropMaterial = false;
};

class CountingListener final : public visuals::VisualChangeListener {
public:
    void visualChanged(Visual*) override { ++calls; }
    int calls = 0;
};

void fillPositions(VertexBuffer& vb, const std::vector<math::Vector3>& points)
{
    vb.setVertexFormat(graphics::vertexFormatFromString("position"));
    vb.resizeElements(points.size());
    u8* at = vb.lockVertices(Lock::Write, 0, points.size());
    for (const math::Vector3& p : points) {
        const f32 xyz[3] = { p.x, p.y, p.z };
        std::memcpy(at, xyz, sizeof xyz);
        at += sizeof xyz;
    }
    vb.unlockVertices();
}

void fillIndices(IndexBuffer& ib, const std::vector<u32>& values)
{
    ib.setElementSize(2);
    ib.resizeElements(values.size());
    u8* at = ib.lockIndices(Lock::Write, 0, values.size());
    for (u32 v : values) {
        *at++ = static_cast<u8>(v);
        *at++ = static_cast<u8>(v >> 8);
    }
    ib.unlockIndices();
}

// The unit cube from 0 to 1 as 12 triangles.
void fillCube(MeshVisual& mesh)
{
    std::vector<math::Vector3> corners;
    for (int i = 0; i < 8; ++i)
        corners.push_back({ f32(i & 1), f32((i >> 1) & 1), f32((i >> 2) & 1) });
    fillPositions(*mesh.getVertexBuffer(kStaticDraw), corners);
    fillIndices(*mesh.addSubMesh(nullptr)->getIndexBuffer(),
        { 0, 1, 3, 0, 3, 2, 4, 6, 7, 4, 7, 5, 0, 4, 5, 0, 5, 1, 2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3 });
}

using VisualTest = RecordingDisplayTest;

TEST_F(VisualTest, UpdateBuildsOnceAndKeepsTheMaterialTheBuildDropped)
{
    Ref hold(new TestVisual());
    auto& visual = *hold.get<TestVisual>();
    graphics::Material* material = visual.material();
    ASSERT_NE(material, nullptr);
    visual.dropMaterial = true;
    visual.update();
    visual.update();
    EXPECT_EQ(visual.builds, 1);
    EXPECT_EQ(visual.refreshes, 0);
    EXPECT_EQ(visual.material(), material);
    visual.setFlags(Visual::ContentsChanged);
    visual.update();
    EXPECT_EQ(visual.refreshes, 1);
    EXPECT_EQ(visual.builds, 1);
}

TEST_F(VisualTest, GetIndexBufferMakesOneSubMeshOnce)
{
    Ref hold(new TestVisual());
    Visual& visual = *hold.get<Visual>();
    IndexBuffer* first = visual.getIndexBuffer();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(visual.getIndexBuffer(), first);
    ASSERT_EQ(visual.subMeshCount(), 1u);
    EXPECT_EQ(visual.subMesh(0)->material(), nullptr);
    EXPECT_EQ(first->usage(), kStaticDraw);
}

TEST_F(VisualTest, TheBufferListenerIsRegisteredExactlyOnce)
{
    Ref hold(new TestVisual());
    Visual& visual = *hold.get<Visual>();
    Ref first(device.createVertexBuffer(kStaticDraw));
    Ref second(device.createVertexBuffer(kStaticDraw));
    VertexBuffer* a = first.getCounted<VertexBuffer>();
    visual.setVertexBuffer(a);
    visual.setVertexBuffer(a);
    EXPECT_EQ(a->changeListenerCount(), 1u);
    EXPECT_EQ(a->refCount(), 2);
    visual.setVertexBuffer(second.getCounted<VertexBuffer>());
    EXPECT_EQ(a->changeListenerCount(), 0u);
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_EQ(second.getCounted<VertexBuffer>()->changeListenerCount(), 1u);
}

TEST_F(VisualTest, WritingVerticesTellsListenersOnceAndStalesSubMeshes)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    fillCube(mesh);
    SubMesh* part = mesh.subMesh(0);
    part->updateBounds(mesh.vertexBuffer());
    ASSERT_FALSE(part->boundsStale());
    CountingListener listener;
    mesh.addChangeListener(&listener);
    VertexBuffer& vb = *mesh.vertexBuffer();
    const f32 moved[3] = { 5, 5, 5 };
    std::memcpy(vb.lockVertices(Lock::Write, 0, 1), moved, sizeof moved);
    vb.unlockVertices();
    EXPECT_EQ(listener.calls, 1);
    EXPECT_TRUE(part->boundsStale());
    mesh.removeChangeListener(&listener);
}

TEST_F(VisualTest, SubMeshBoundsCoverWhatItDraws)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    VertexBuffer* vb = mesh.getVertexBuffer(kStaticDraw);
    Ref holdPart(new SubMesh());
    SubMesh& part = *holdPart.get<SubMesh>();

    part.updateBounds(vb); // no vertices yet
    EXPECT_TRUE(part.boundsStale());

    fillPositions(*vb, { { 0, 0, 0 }, { 2, 0, 0 }, { 10, 0, 0 }, { 12, 0, 0 }, { 0, 4, 0 } });
    part.updateBounds(vb); // no index buffer: the buffer's own sphere
    vb->updateBoundingSphere();
    EXPECT_EQ(part.radius(), vb->radius());

    IndexBuffer* ib = part.getIndexBuffer();
    fillIndices(*ib, { 2, 3, 3, 99 }); // 99 names no vertex
    part.updateBounds(vb);
    EXPECT_FALSE(part.boundsStale());
    EXPECT_EQ(part.centre(), math::Vector3(11, 0, 0));
    EXPECT_FLOAT_EQ(part.radius(), 1.0f + 1e-5f);

    ib->setDrawRange(0, 1);
    part.updateBounds(vb);
    EXPECT_EQ(part.centre(), math::Vector3(10, 0, 0));

    // Without indices the draw range counts vertices.
    ib->setSize(0);
    ib->setDrawRange(0, 2);
    part.updateBounds(vb);
    EXPECT_EQ(part.centre(), math::Vector3(1, 0, 0));
}

TEST_F(VisualTest, VolumeOfTheUnitCubeIsOne)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    EXPECT_EQ(mesh.computeVolume(), 0.0f);
    fillCube(mesh);
    EXPECT_NEAR(mesh.computeVolume(), 1.0f, 1e-5f);
}

TEST_F(VisualTest, MergingJoinsSubMeshesThatShareAMaterial)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    Ref red(new graphics::Shader());
    Ref blue(new graphics::Shader());
    graphics::Material* materials[5] = { red.get<graphics::Material>(), blue.get<graphics::Material>(),
        red.get<graphics::Material>(), blue.get<graphics::Material>(), red.get<graphics::Material>() };
    for (u32 i = 0; i < 5; ++i)
        fillIndices(*mesh.addSubMesh(materials[i])->getIndexBuffer(), { 3 * i, 3 * i + 1, 3 * i + 2 });

    LogCapture lines(3);
    mesh.mergeSubMeshes();

    ASSERT_EQ(mesh.subMeshCount(), 2u);
    EXPECT_NE(lines.text().find("Merged 5 sub-meshes to 2"), std::string::npos);
    for (u64 i = 0; i < 2; ++i) {
        SubMesh* merged = mesh.subMesh(i);
        std::vector<u32> got = indicesOf(*merged->getIndexBuffer());
        std::sort(got.begin(), got.end());
        if (merged->material() == red.get<graphics::Material>())
            EXPECT_EQ(got, (std::vector<u32> { 0, 1, 2, 6, 7, 8, 12, 13, 14 }));
        else
            EXPECT_EQ(got, (std::vector<u32> { 3, 4, 5, 9, 10, 11 }));
    }
}

TEST_F(VisualTest, AnExplicitSphereReplacesTheComputedBounds)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    fillCube(mesh);
    mesh.setExplicitSphere({ 1, 2, 3 }, 4);
    math::Vector3 centre, half;
    EXPECT_EQ(mesh.getBoundingSphere(centre), 4.0f);
    EXPECT_EQ(centre, math::Vector3(1, 2, 3));
    mesh.getBoundingBox(centre, half);
    EXPECT_EQ(centre, math::Vector3(1, 2, 3));
    EXPECT_EQ(half, math::Vector3(4, 4, 4));
}

TEST_F(VisualTest, ACloneKeepsEverySubMeshsSphere)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    fillCube(mesh);
    SubMesh* second = mesh.addSubMesh(nullptr);
    second->setBounds({ 5, 6, 7 }, 2);
    second->textureOverrides[0] = reinterpret_cast<graphics::PixelBuffer*>(0x1000);
    mesh.subMesh(0)->markBoundsStale();

    Ref holdCopy(mesh.clone());
    auto& copy = *holdCopy.get<MeshVisual>();
    EXPECT_EQ(copy.asMeshVisual(), &copy);
    EXPECT_EQ(copy.vertexBuffer(), mesh.vertexBuffer());
    EXPECT_EQ(mesh.vertexBuffer()->changeListenerCount(), 2u);
    ASSERT_EQ(copy.subMeshCount(), 2u);
    SubMesh* copied = copy.subMesh(1);
    EXPECT_NE(copied, second);
    EXPECT_EQ(copied->indexBuffer(), second->indexBuffer());
    EXPECT_EQ(copied->centre(), math::Vector3(5, 6, 7));
    EXPECT_EQ(copied->radius(), 2.0f);
    EXPECT_FALSE(copied->boundsStale());
    EXPECT_TRUE(copy.subMesh(0)->boundsStale());
    EXPECT_EQ(copied->textureOverrides[0], second->textureOverrides[0]);
}

TEST_F(VisualTest, QueueUploadMakesDeviceObjectsForFilledBuffers)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    fillCube(mesh);
    SubMesh* empty = mesh.addSubMesh(nullptr);
    mesh.queueUpload();
    EXPECT_TRUE(mesh.vertexBuffer()->hasDeviceObject());
    EXPECT_TRUE(mesh.subMesh(0)->indexBuffer()->hasDeviceObject());
    EXPECT_FALSE(empty->indexBuffer()->hasDeviceObject());
}

class Generator final : public visuals::VertexGenerator {
public:
    void prepare(const graphics::VertexFormat& format) override { stride = format.stride; }
    void write(u8* vertices, u64 count) override
    {
        for (u64 i = 0; i < count; ++i) {
            const f32 xyz[3] = { f32(i), 7.0f, 0.0f };
            std::memcpy(vertices + i * stride, xyz, sizeof xyz);
        }
        ++writes;
    }
    u64 stride = 0;
    int writes = 0;
};

TEST_F(VisualTest, TheVertexGeneratorRewritesTheVerticesOnRefresh)
{
    Ref hold(new MeshVisual());
    MeshVisual& mesh = *hold.get<MeshVisual>();
    fillPositions(*mesh.getVertexBuffer(kStaticDraw), { { 0, 0, 0 }, { 0, 0, 0 } });
    auto* generator = new Generator();
    mesh.setVertexGenerator(generator);
    mesh.update();
    EXPECT_EQ(generator->writes, 0);
    mesh.setFlags(Visual::ContentsChanged);
    mesh.update();
    EXPECT_EQ(generator->writes, 1);
    EXPECT_EQ(generator->stride, 12u);
    math::Vector3 centre;
    mesh.getBoundingSphere(centre);
    EXPECT_FLOAT_EQ(centre.y, 7.0f);
}

TEST_F(VisualTest, DescribeSaysWhenThereAreNoVertices)
{
    Ref hold(new TestVisual());
    std::ostringstream text;
    hold.get<Visual>()->describe(text);
    EXPECT_EQ(text.str(), "No vertices.\n");
}

// Submitting: a camera at the origin looking down -Z with a 90-degree view.
class SubmitTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        queue.setProjectionMatrix(math::Matrix4::perspective(1.5707964f, 1.0f, 1.0f, 1000.0f, true));
    }

    // Two sub-meshes: one around the origin, one around x = `farX`.
    MeshVisual* twoParts(u32 usage, f32 farX)
    {
        auto* mesh = new MeshVisual();
        held = Ref(mesh);
        fillPositions(*mesh->getVertexBuffer(usage),
            { { -0.5f, 0, 0 }, { 0.5f, 0, 0 }, { farX - 0.5f, 0, 0 }, { farX + 0.5f, 0, 0 } });
        fillIndices(*mesh->addSubMesh(nullptr)->getIndexBuffer(), { 0, 1, 0 });
        fillIndices(*mesh->addSubMesh(nullptr)->getIndexBuffer(), { 2, 3, 2 });
        return mesh;
    }

    u64 submit(Visual& visual, const math::Matrix4& world)
    {
        queue.setWorldMatrix(world);
        render::RenderContext context;
        queue.submitVisual(&visual, context);
        const u64 jobs = queue.jobCount();
        queue.reset();
        queue.setProjectionMatrix(math::Matrix4::perspective(1.5707964f, 1.0f, 1.0f, 1000.0f, true));
        return jobs;
    }

    static math::Matrix4 at(f32 x, f32 y, f32 z, f32 scale = 1.0f)
    {
        math::Matrix4 m;
        m.m[0] = m.m[5] = m.m[10] = scale;
        m.m[12] = x;
        m.m[13] = y;
        m.m[14] = z;
        return m;
    }

    render::RenderQueue queue;
    Ref held;
};

TEST_F(SubmitTest, OnlyStaticVisualsWithSeveralSubMeshesCullTheirParts)
{
    EXPECT_EQ(submit(*twoParts(kStaticDraw, 1000), at(0, 0, -20)), 1u);
    EXPECT_EQ(submit(*twoParts(kDynamicDraw, 1000), at(0, 0, -20)), 2u);
    MeshVisual* single = twoParts(kStaticDraw, 1000);
    Ref keep(single->subMesh(1));
    single->mergeSubMeshes(); // both parts share "no material": one sub-mesh
    ASSERT_EQ(single->subMeshCount(), 1u);
    EXPECT_EQ(submit(*single, at(5000, 0, -20)), 1u);
}

TEST_F(SubmitTest, APartOfAScaledUpNodeStaysWhileOnScreen)
{
    // The far part: radius 0.5 around x = 2.3, drawn 10 times larger 20 units
    // ahead. Its edge reaches x = 18, inside the right plane (x = 20 there).
    EXPECT_EQ(submit(*twoParts(kStaticDraw, 2.3f), at(0, 0, -20, 10.0f)), 2u);
    // Unscaled it lies beyond the plane.
    EXPECT_EQ(submit(*twoParts(kStaticDraw, 23.0f), at(0, 0, -20)), 1u);
}

TEST_F(SubmitTest, APartAtMinusItsRadiusFromAPlaneIsCulled)
{
    // The right plane at depth 20 is x = 20; its normal points inwards at 45 degrees.
    const f32 radius = 0.5f + 1e-5f;
    const f32 onPlane = 20.0f + radius * 1.41421356f;
    EXPECT_EQ(submit(*twoParts(kStaticDraw, onPlane + 1e-3f), at(0, 0, -20)), 1u);
    EXPECT_EQ(submit(*twoParts(kStaticDraw, onPlane - 1e-3f), at(0, 0, -20)), 2u);
}

TEST_F(SubmitTest, JobsCarryTheContextAndTheSubMeshsOwnPass)
{
    MeshVisual* mesh = twoParts(kDynamicDraw, 1);
    Ref own(new graphics::Shader());
    mesh->subMesh(1)->setMaterial(own.get<graphics::Material>());
    auto* image = reinterpret_cast<graphics::PixelBuffer*>(0x2000);
    mesh->subMesh(1)->textureOverrides[1] = image;
    Ref holdNode(new scene::Node());

    queue.setWorldMatrix(at(1, 2, 3));
    render::RenderContext context;
    context.node = holdNode.get<scene::Node>();
    context.depthKey = 42.0f;
    queue.submitVisual(mesh, context);
    ASSERT_EQ(queue.jobCount(), 2u);
    const render::RenderJob& first = *queue.job(0);
    const render::RenderJob& second = *queue.job(1);
    EXPECT_EQ(first.shader, mesh->getMaterialShader());
    EXPECT_EQ(second.shader, own.get<graphics::Shader>());
    EXPECT_EQ(second.textures.images[1], image);
    EXPECT_EQ(second.textures.images[0], nullptr);
    EXPECT_EQ(first.indexBuffer, mesh->subMesh(0)->indexBuffer());
    EXPECT_EQ(first.vertexBuffer, mesh->vertexBuffer());
    EXPECT_EQ(first.firstIndex, 0u);
    EXPECT_EQ(first.indexCount, -1);
    EXPECT_EQ(first.node, holdNode.get<scene::Node>());
    EXPECT_EQ(first.depthKey, 42.0f);
    EXPECT_EQ(first.context, &context);
    EXPECT_EQ(first.modelMatrix->m[12], 1.0f);
    EXPECT_EQ(first.viewMatrix, context.viewMatrix);
    queue.reset();
}

} // namespace
} // namespace quern::test
