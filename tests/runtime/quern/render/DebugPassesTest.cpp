// The gizmo and bounding-volume passes recorded into a pass list and drawn on
// the recording device.

#include "RenderTestSupport.h"

#include "quern/render/BoundingVolumePass.h"
#include "quern/render/Gizmos.h"
#include "quern/render/PassList.h"
#include "quern/visuals/BatchVisual.h"
#include "quern/visuals/PrimitiveVisuals.h"

#include <gtest/gtest.h>

namespace quern::test {
namespace {

using graphics::BatchVertex;
using render::BoundingVolumePass;
using render::Gizmos;

struct Expected {
    f32 x, y, z;
    u8 r, g, b;
};

void expectLines(visuals::PrimitiveBatch& batch, const std::vector<Expected>& expected)
{
    ASSERT_EQ(batch.current.count(), expected.size());
    for (u64 i = 0; i < expected.size(); ++i) {
        const BatchVertex& v = batch.current.at<BatchVertex>(i);
        const Expected& e = expected[i];
        EXPECT_EQ(v.x, e.x) << i;
        EXPECT_EQ(v.y, e.y) << i;
        EXPECT_EQ(v.z, e.z) << i;
        EXPECT_EQ(v.colour[0], e.r) << i;
        EXPECT_EQ(v.colour[1], e.g) << i;
        EXPECT_EQ(v.colour[2], e.b) << i;
        EXPECT_EQ(v.colour[3], 255) << i;
    }
}

class DebugPassesTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        cameraHold = Ref(new scene::Camera());
        camera = cameraHold.get<scene::Camera>();
        camera->setTranslation(0, 0, 10);
    }

    // What the camera's settings alone give (see ScenePassFrameTest).
    static math::Matrix4 viewProjection()
    {
        math::Matrix4 view;
        view.m[14] = -10.0f;
        return math::Matrix4::perspective(1.0471973f, 4.0f / 3.0f, 1.0f, 100000.0f, true) * view;
    }

    std::vector<RecordedDraw> drawsOf(graphics::VertexBuffer* vb) const
    {
        std::vector<RecordedDraw> out;
        for (const RecordedDraw& d : device.draws)
            if (d.vertices == vb)
                out.push_back(d);
        return out;
    }

    Ref cameraHold;
    scene::Camera* camera = nullptr;
    render::PassList passes;
};

TEST_F(DebugPassesTest, RectanglesAndAxesAreLinesInThePalette)
{
    Ref hold(new Gizmos());
    Gizmos& gizmos = *hold.get<Gizmos>();
    EXPECT_EQ(gizmos.name(), "Gizmos");
    gizmos.drawRectangle(0, 0, 1, 2);
    visuals::PrimitiveBatch& lines = *gizmos.batchVisual()->getBatch(graphics::PrimitiveType::LineList);
    expectLines(lines,
        { { -1, 2, 0, 255, 0, 255 }, { 1, 2, 0, 255, 0, 255 }, { 1, 2, 0, 255, 0, 255 }, { 1, -2, 0, 255, 0, 255 },
            { 1, -2, 0, 255, 0, 255 }, { -1, -2, 0, 255, 0, 255 }, { -1, -2, 0, 255, 0, 255 },
            { -1, 2, 0, 255, 0, 255 } });
    lines.current.clear();
    gizmos.drawAxes(math::Matrix4());
    expectLines(lines,
        { { 0, 0, 0, 255, 0, 0 }, { 1, 0, 0, 255, 0, 0 }, { 0, 0, 0, 0, 255, 0 }, { 0, 1, 0, 0, 255, 0 },
            { 0, 0, 0, 0, 0, 255 }, { 0, 0, 1, 0, 0, 255 } });
    lines.current.clear();
    gizmos.drawLine({ 0, 0, 0 }, { 1, 1, 1 }, Gizmos::Grey);
    EXPECT_EQ(lines.current.at<BatchVertex>(0).colour[0], 128);
}

TEST_F(DebugPassesTest, GizmoLinesAreDrawnOneFrameLateWithTheCamera)
{
    Gizmos* gizmos = new Gizmos();
    gizmos->setCamera(camera);
    gizmos->clearFlags = 2;
    passes.addPass(gizmos);
    passes.renderFrame(*display);
    EXPECT_EQ(gizmos->batchVisual()->batchCount(), 0u);
    EXPECT_TRUE(device.draws.empty());

    gizmos->drawLine({ 0, 0, 0 }, { 1, 0, 0 }, Gizmos::Red);
    passes.renderFrame(*display);
    graphics::VertexBuffer* vb = gizmos->batchVisual()->vertexBuffer();
    ASSERT_NE(vb, nullptr);
    EXPECT_TRUE(drawsOf(vb).empty());

    // Persistent axes join the lines from now on.
    const f32 position[3] = { 1, 2, 3 };
    const math::Quaternion rotation;
    gizmos->records().append(Gizmos::Record { 1, position, &rotation });
    gizmos->records().append(Gizmos::Record { 2, position, &rotation });
    passes.renderFrame(*display);
    std::vector<RecordedDraw> draws = drawsOf(vb);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].count, 2u);
    EXPECT_TRUE(nearMatrix(draws[0].worldViewProjection, viewProjection()));

    passes.renderFrame(*display);
    draws = drawsOf(vb);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[1].count, 6u);
    EXPECT_EQ(device.count("clear window 2"), 4u);
}

class BoundingVolumesTest : public DebugPassesTest {
protected:
    void SetUp() override
    {
        DebugPassesTest::SetUp();
        rootHold = Ref(new scene::Node());
        node = new scene::Node();
        node->setVisual(makeMesh(8));
        node->setTranslation(1, 0, -2);
        node->setScale(2, 1, 1);
        rootHold.get<scene::Node>()->addChild(node);
        scene::Node* hidden = new scene::Node();
        hidden->setVisual(makeMesh(8));
        hidden->hidden = 1;
        rootHold.get<scene::Node>()->addChild(hidden);
    }

    BoundingVolumePass* addPass(bool boxes, bool spheres)
    {
        auto* pass = new BoundingVolumePass();
        pass->setCamera(camera);
        pass->setSceneRoot(rootHold.get<scene::Node>());
        pass->drawBoxes = boxes ? 1 : 0;
        pass->drawSpheres = spheres ? 1 : 0;
        passes.addPass(pass);
        return pass;
    }

    Ref rootHold;
    scene::Node* node = nullptr;
};

TEST_F(BoundingVolumesTest, NothingIsRecordedWithBothVolumesOff)
{
    Ref hold(new BoundingVolumePass());
    BoundingVolumePass& pass = *hold.get<BoundingVolumePass>();
    EXPECT_EQ(pass.sphereVisual()->segments, 16);
    pass.drawSpheres = 0;
    pass.clearFlags = 3;
    render::RenderCommandList list;
    pass.recordCommands(list);
    EXPECT_EQ(list.count(), 0u);
    pass.drawBoxes = 1;
    pass.recordCommands(list);
    ASSERT_GE(list.count(), 3u); // the bind and clear, then these two
    EXPECT_EQ(list.at(list.count() - 2).type, render::RenderCommand::Cull);
    EXPECT_EQ(list.at(list.count() - 1).type, render::RenderCommand::Custom);
}

TEST_F(BoundingVolumesTest, EachPassDrawsItsOwnVolumesWithTheFullMatrix)
{
    BoundingVolumePass* spheres = addPass(false, true);
    BoundingVolumePass* boxes = addPass(true, false);
    passes.renderFrame(*display);

    // The sphere: the mesh's radius stretched by the node's largest scale.
    math::Vector3 centre;
    const f32 radius = node->visual()->getBoundingSphere(centre);
    math::Matrix4 world;
    node->getRenderTransform(world);
    const math::Vector3 at = world.transformPoint(centre);
    math::Matrix4 sphereModel;
    sphereModel.m[0] = sphereModel.m[5] = sphereModel.m[10] = 2 * radius;
    sphereModel.m[12] = at.x;
    sphereModel.m[13] = at.y;
    sphereModel.m[14] = at.z;
    const std::vector<RecordedDraw> sphereDraws = drawsOf(spheres->sphereVisual()->vertexBuffer());
    ASSERT_EQ(sphereDraws.size(), 1u);
    EXPECT_TRUE(nearMatrix(sphereDraws[0].worldViewProjection, viewProjection() * sphereModel));

    // The box of the second pass, drawn with its own projection too.
    math::Vector3 min, max;
    node->getBoundingBox(min, max);
    math::Matrix4 boxModel;
    boxModel.m[0] = max.x - min.x;
    boxModel.m[5] = max.y - min.y;
    boxModel.m[10] = max.z - min.z;
    boxModel.m[12] = (min.x + max.x) / 2;
    boxModel.m[13] = (min.y + max.y) / 2;
    boxModel.m[14] = (min.z + max.z) / 2;
    const std::vector<RecordedDraw> boxDraws = drawsOf(boxes->boxVisual()->vertexBuffer());
    ASSERT_EQ(boxDraws.size(), 1u);
    EXPECT_TRUE(nearMatrix(boxDraws[0].worldViewProjection, viewProjection() * boxModel));
    EXPECT_TRUE(drawsOf(boxes->sphereVisual()->vertexBuffer()).empty());
    EXPECT_TRUE(drawsOf(spheres->boxVisual()->vertexBuffer()).empty());
}

TEST_F(BoundingVolumesTest, WithoutCullFirstThePassDrawsTheListsOfTheCullBeforeIt)
{
    auto* scene = new render::ScenePass();
    scene->setCamera(camera);
    scene->setSceneRoot(rootHold.get<scene::Node>());
    passes.addPass(scene);
    BoundingVolumePass* pass = addPass(false, true);
    pass->cullFirst = 0;
    passes.renderFrame(*display);
    EXPECT_EQ(drawsOf(pass->sphereVisual()->vertexBuffer()).size(), 1u);
}

} // namespace
} // namespace quern::test
