// A whole frame: a pass list with a scene pass over a small tree, recorded
// and compiled once, then executed frame after frame on the recording device.

#include "RenderTestSupport.h"

#include "quern/render/PassList.h"
#include "quern/render/ScenePass.h"

#include <gtest/gtest.h>

namespace quern::test {
namespace {

class CountingScenePass final : public render::ScenePass {
public:
    void recordCommands(render::RenderCommandList& list) override
    {
        ++recordings;
        ScenePass::recordCommands(list);
    }
    int recordings = 0;
};

class ScenePassFrameTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        opaque = Ref(makeShader(false));
        transparent = Ref(makeShader(true));
        rootHold = Ref(new scene::Node());
        scene::Node* root = rootHold.get<scene::Node>();
        near = add(root, "near glass", transparent, { 0, 0, 0 }, 1.0f);
        add(root, "far glass", transparent, { 0, 1, -20 }, 1.0f);
        add(root, "stone", opaque, { 2, 0, -5 }, 2.0f);
        add(root, "hidden", opaque, { 0, 0, -5 }, 1.0f)->hidden = 1;
        scene::Node* empty = new scene::Node(); // nothing to draw
        empty->setTranslation(0, 0, -3);
        root->addChild(empty);
        add(root, "behind", opaque, { 0, 0, 40 }, 1.0f); // behind the camera

        cameraHold = Ref(new scene::Camera());
        camera = cameraHold.get<scene::Camera>();
        camera->setTranslation(0, 0, 10);

        scenePass = new CountingScenePass();
        scenePass->setCamera(camera);
        scenePass->setSceneRoot(root);
        scenePass->clearFlags = 3;
        passes.addPass(scenePass);
        disabled = new CountingScenePass();
        disabled->enabled = 0;
        passes.addPass(disabled);
    }

    scene::Node* add(scene::Node* root, const char* name, Ref& material, math::Vector3 at, f32 scale)
    {
        auto* node = new scene::Node();
        node->setName(name);
        node->setVisual(makeMesh(3, material.get<graphics::Material>()));
        node->setTranslation(at.x, at.y, at.z);
        node->setScale(scale, scale, scale);
        root->addChild(node);
        meshes[name] = node->visual();
        return node;
    }

    // The world-view-projection of a node at `at` scaled by `scale`, worked
    // out from the camera's settings alone.
    math::Matrix4 expectedMatrix(math::Vector3 at, f32 scale) const
    {
        math::Matrix4 world;
        world.m[0] = world.m[5] = world.m[10] = scale;
        world.m[12] = at.x;
        world.m[13] = at.y;
        world.m[14] = at.z;
        math::Matrix4 view; // the camera 10 units up +Z, looking down -Z
        view.m[14] = -10.0f;
        const math::Matrix4 projection = math::Matrix4::perspective(1.0471973f, 4.0f / 3.0f, 1.0f, 100000.0f, true);
        return projection * (view * world);
    }

    std::vector<visuals::Visual*> drawnVisuals(u64 from) const
    {
        std::vector<visuals::Visual*> out;
        for (u64 i = from; i < device.draws.size(); ++i) {
            for (const auto& [name, visual] : meshes)
                if (visual->vertexBuffer() == device.draws[i].vertices)
                    out.push_back(visual);
        }
        return out;
    }

    Ref opaque;
    Ref transparent;
    Ref rootHold;
    Ref cameraHold;
    scene::Camera* camera = nullptr;
    scene::Node* near = nullptr;
    std::map<std::string, visuals::Visual*> meshes;
    CountingScenePass* scenePass = nullptr;
    CountingScenePass* disabled = nullptr;
    render::PassList passes;
};

TEST_F(ScenePassFrameTest, RecordsOnceAndDrawsEveryFrameInSortOrder)
{
    passes.renderFrame(*display);
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 1);
    EXPECT_EQ(disabled->recordings, 0);
    ASSERT_EQ(device.draws.size(), 6u);

    // Opaque first, then the glass from the farthest to the nearest.
    const std::vector<visuals::Visual*> order = { meshes["stone"], meshes["far glass"], meshes["near glass"] };
    EXPECT_EQ(drawnVisuals(0),
        (std::vector<visuals::Visual*> { order[0], order[1], order[2], order[0], order[1], order[2] }));
    EXPECT_TRUE(nearMatrix(device.draws[0].worldViewProjection, expectedMatrix({ 2, 0, -5 }, 2.0f)));
    EXPECT_TRUE(nearMatrix(device.draws[1].worldViewProjection, expectedMatrix({ 0, 1, -20 }, 1.0f)));
    EXPECT_TRUE(nearMatrix(device.draws[2].worldViewProjection, expectedMatrix({ 0, 0, 0 }, 1.0f)));
    EXPECT_EQ(device.draws[0].shader, opaque.get<graphics::Shader>());
    EXPECT_EQ(device.count("clear window 3"), 2u);
    EXPECT_EQ(device.count("begin frame"), 2u);
}

TEST_F(ScenePassFrameTest, ChangesMakeTheNextFrameRecordAgain)
{
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 1);

    passes.addPass(new render::RenderPass());
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 2);
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 2);

    Ref target(device.createRenderTarget());
    scenePass->setOutput(target.get<graphics::TextureRenderTarget>());
    device.forget();
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 3);
    EXPECT_EQ(device.count("bind target"), 1u);

    // Moving a node needs no new recording: the cull runs every frame.
    near->setTranslation(0, 0, 500);
    device.forget();
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 3);
    EXPECT_EQ(device.draws.size(), 2u);
}

TEST_F(ScenePassFrameTest, AReopenedDisplayMakesTheNextFrameRecordAgain)
{
    passes.renderFrame(*display);
    // Closing drops the window target the compiled commands point at.
    display->close();
    graphics::DisplayMode mode;
    mode.width = mode.drawableWidth = 320;
    mode.height = mode.drawableHeight = 200;
    display->openWithVideoMode(mode, display->defaultConfiguration());
    device.forget();
    passes.renderFrame(*display);
    EXPECT_EQ(scenePass->recordings, 2);
    EXPECT_EQ(device.windowTargetsMade, 2u);
    EXPECT_EQ(device.count("viewport 0 0 320 200"), 2u);
    EXPECT_EQ(device.draws.size(), 3u);
}

TEST(PassList, OutlivesItsDisplay)
{
    RecordingGraphicsBackEnd device;
    render::PassList passes;
    {
        RecordingDisplay display(device);
        passes.addPass(new render::RenderPass());
        passes.renderFrame(display);
        EXPECT_TRUE(display.hasListener(&passes));
    }
    passes.clearPasses();
}

} // namespace
} // namespace quern::test
