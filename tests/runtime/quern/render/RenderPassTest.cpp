#include "RenderTestSupport.h"

#include "quern/parameter/Parameter.h"
#include "quern/parameter/ParameterRegistry.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderPass.h"
#include "quern/render/Renderer.h"
#include "quern/render/ScenePass.h"
#include "quern/scene/Light.h"
#include "quern/strings/PackedName.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quern::test {
namespace {

using render::PassList;
using render::Renderer;
using render::RenderPass;
using render::ScenePass;

class CountingPass final : public RenderPass {
public:
    void setUp() override { ++setUps; }
    void recordCommands(render::RenderCommandList& list) override
    {
        ++recordings;
        RenderPass::recordCommands(list);
    }
    int setUps = 0;
    int recordings = 0;
};

class Watcher final : public ParameterListener { };

using RenderPassTest = RecordingDisplayTest;

TEST_F(RenderPassTest, Defaults)
{
    Ref hold(new RenderPass());
    const RenderPass& pass = *hold.get<RenderPass>();
    EXPECT_EQ(pass.enabled, 1);
    EXPECT_FALSE(pass.isSetUp());
    EXPECT_EQ(pass.clearFlags, 0u);
    EXPECT_EQ(pass.clearDepth, 1.0f);
    EXPECT_EQ(pass.clearColour[3], 1.0f);
    EXPECT_EQ(pass.name(), "RenderPass");
    EXPECT_EQ(pass.output(), nullptr);
    ASSERT_NE(pass.queue(), nullptr);
    EXPECT_EQ(pass.queue()->sortMode, render::RenderQueue::SortMode::ByState);
}

TEST_F(RenderPassTest, SetOutputRecompilesOnlyForAnotherTarget)
{
    PassList passes;
    Ref hold(new RenderPass());
    auto* pass = hold.get<RenderPass>();
    passes.addPass(pass);
    EXPECT_EQ(pass->owner(), &passes);
    Ref target(device.createRenderTarget());
    auto* output = target.get<graphics::TextureRenderTarget>();

    struct Step {
        graphics::TextureRenderTarget* output;
        u8 compiledAfter;
    };
    const Step steps[] = { { output, 0 }, { output, 1 }, { nullptr, 0 }, { nullptr, 1 } };
    for (const Step& step : steps) {
        passes.compiled = 1;
        pass->setOutput(step.output);
        EXPECT_EQ(passes.compiled, step.compiledAfter);
    }
    passes.clearPasses();
    EXPECT_EQ(pass->owner(), nullptr);
}

TEST_F(RenderPassTest, DescribeNamesThePassAndItsOutput)
{
    Ref hold(new RenderPass());
    auto* pass = hold.get<RenderPass>();
    std::ostringstream plain;
    pass->describe(plain);
    EXPECT_EQ(plain.str(), "RenderPass\n");

    pass->setName("Gizmos");
    pass->enabled = 0;
    Ref target(new RecordingTarget(device, "shadow map"));
    pass->setOutput(target.get<graphics::TextureRenderTarget>());
    std::ostringstream described;
    pass->describe(described);
    EXPECT_EQ(described.str(), "Gizmos (disabled)\nOutputs:\nshadow map\n");
}

TEST_F(RenderPassTest, DisabledPassesRecordNothingAndSetUpRunsOnce)
{
    PassList passes;
    auto* first = new CountingPass();
    auto* second = new CountingPass();
    passes.addPass(first);
    passes.addPass(second);
    second->enabled = 0;
    passes.renderFrame(*display);
    passes.renderFrame(*display);
    EXPECT_EQ(first->recordings, 1);
    EXPECT_EQ(first->setUps, 1);
    EXPECT_EQ(second->recordings, 0);
    EXPECT_EQ(second->setUps, 0);

    second->enabled = 1;
    second->invalidate();
    passes.renderFrame(*display);
    EXPECT_EQ(first->recordings, 2);
    EXPECT_EQ(first->setUps, 1);
    EXPECT_EQ(second->recordings, 1);
    EXPECT_EQ(second->setUps, 1);
}

TEST_F(RenderPassTest, AddingAPassFromTheListItselfIsSafe)
{
    PassList passes;
    passes.addPass(new RenderPass());
    for (int i = 0; i < 20; ++i)
        passes.addPass(passes.pass(0));
    EXPECT_EQ(passes.passCount(), 21u);
    EXPECT_EQ(passes.pass(0)->refCount(), 21);
}

TEST_F(RenderPassTest, EnableStatisticsMakesTheRendererCounters)
{
    PassList passes;
    passes.enableStatistics();
    EXPECT_EQ(passes.statistics, 1);
    ParameterRegistry& registry = ParameterRegistry::instance();
    const u64 before = registry.parameterCount();
    registry.getParameter(packName("renderer"), packName("visibleNodes"));
    registry.getParameter(packName("renderer"), packName("triangles"));
    registry.getParameter(packName("renderer"), packName("vertices"));
    EXPECT_EQ(registry.parameterCount(), before);
}

TEST_F(RenderPassTest, AnImmediateRunDrawsIntoTheOutputAndRestoresTheViewport)
{
    Ref rendererHold(new Renderer());
    auto& renderer = *rendererHold.get<Renderer>();
    Ref cameraHold(new scene::Camera());
    auto& camera = *cameraHold.get<scene::Camera>();
    Ref hold(new RenderPass());
    auto* pass = hold.get<RenderPass>();
    Ref target(new RecordingTarget(device, "map"));
    target.get<RecordingTarget>()->setSize(256, 128);
    pass->setOutput(target.get<graphics::TextureRenderTarget>());

    pass->clearFlags = 3;
    pass->renderImmediate(renderer, camera);
    std::vector<std::string> expected
        = { "bind map", "viewport 0 0 256 128", "display clear 3", "viewport 0 0 640 480", "unbind map" };
    EXPECT_EQ(device.log, expected);
    EXPECT_EQ(display->context().viewport[2], 640);

    device.forget();
    pass->clearFlags = 0;
    pass->renderImmediate(renderer, camera);
    expected = { "bind map", "viewport 0 0 256 128", "viewport 0 0 640 480", "unbind map" };
    EXPECT_EQ(device.log, expected);

    device.forget();
    pass->enabled = 0;
    pass->renderImmediate(renderer, camera);
    EXPECT_TRUE(device.log.empty());
}

TEST_F(RenderPassTest, RecordingAScenePassDrawsWithAFreshSortMode)
{
    Ref hold(new ScenePass());
    auto* pass = hold.get<ScenePass>();
    Ref cameraHold(new scene::Camera());
    Ref rootHold(new scene::Node());
    pass->setCamera(cameraHold.get<scene::Camera>());
    pass->setSceneRoot(rootHold.get<scene::Node>());
    pass->queue()->sortMode = render::RenderQueue::SortMode::BackToFront;
    Ref override(makeShader(true));
    pass->queue()->setOverrideMaterial(override.get<graphics::Shader>());

    render::RenderCommandList list;
    pass->recordCommands(list);
    const render::RenderCommand& draw = list.at(list.count() - 1);
    ASSERT_EQ(draw.type, render::RenderCommand::RenderScene);
    auto* queue = draw.pointer<render::RenderQueue>(0);
    EXPECT_NE(queue, pass->queue());
    EXPECT_EQ(queue->sortMode, render::RenderQueue::SortMode::ByState);
    EXPECT_EQ(queue->overrideShader(), override.get<graphics::Shader>());
    EXPECT_EQ(draw.pointer<scene::Camera>(1), cameraHold.get<scene::Camera>());
}

// root with two meshes ahead of the camera, one hidden.
class ImmediateSceneTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        rendererHold = Ref(new Renderer());
        renderer = rendererHold.get<Renderer>();
        cameraHold = Ref(new scene::Camera());
        camera = cameraHold.get<scene::Camera>();
        rootHold = Ref(new scene::Node());
        root = rootHold.get<scene::Node>();
        for (int i = 0; i < 2; ++i) {
            auto* node = new scene::Node();
            node->setVisual(makeMesh(3 + i));
            node->setTranslation(static_cast<f32>(i), 0, -10);
            root->addChild(node);
        }
        root->child(1)->hidden = 1;
    }

    Ref rendererHold;
    Renderer* renderer = nullptr;
    Ref cameraHold;
    scene::Camera* camera = nullptr;
    Ref rootHold;
    scene::Node* root = nullptr;
};

TEST_F(ImmediateSceneTest, AScenePassWithoutRootDrawsNothing)
{
    Ref hold(new ScenePass());
    auto* pass = hold.get<ScenePass>();
    pass->renderImmediate(*renderer, *camera);
    EXPECT_TRUE(device.draws.empty());
    pass->setSceneRoot(root);
    pass->renderImmediate(*renderer, *camera);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].count, 3u);
}

TEST_F(ImmediateSceneTest, ACollectingScenePassCountsWithoutDrawing)
{
    Ref hold(new render::CollectingScenePass());
    auto* pass = hold.get<render::CollectingScenePass>();
    pass->setSceneRoot(root);
    pass->renderImmediate(*renderer, *camera);
    EXPECT_TRUE(device.draws.empty());
    EXPECT_EQ(pass->queue()->state().renderJobs->value(), 1.0f);
}

TEST_F(ImmediateSceneTest, ARendererWithoutPassesAddsOneAndSaysSoOnce)
{
    LogCapture warnings(2);
    renderer->renderFromCamera(root, *camera);
    renderer->renderFromCamera(root, *camera);
    EXPECT_EQ(renderer->passCount(), 1u);
    const std::string text = warnings.text();
    const std::string line = "Renderer has no render passes, adding default pass!";
    ASSERT_NE(text.find(line), std::string::npos);
    EXPECT_EQ(text.find(line, text.find(line) + 1), std::string::npos);
    // The default pass draws the visible node each frame.
    EXPECT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.count("begin frame"), 2u);
}

TEST_F(ImmediateSceneTest, TheRendererCollectsVisibleNodesEnabledLightsAndCameras)
{
    auto* on = new scene::Light();
    auto* off = new scene::Light();
    off->enabled = 0;
    root->addChild(on);
    root->addChild(off);
    auto* seen = new scene::Camera();
    root->addChild(seen);
    auto* bare = new scene::Node(); // no visual
    bare->setTranslation(0, 0, -5);
    root->addChild(bare);
    renderer->addPass(new RenderPass());

    renderer->renderFromCamera(root, *camera);
    ASSERT_EQ(renderer->lightCount(), 1u);
    EXPECT_EQ(renderer->light(0), on);
    ASSERT_EQ(renderer->cameraCount(), 1u);
    EXPECT_EQ(renderer->camera(0), seen);
    ASSERT_EQ(renderer->renderLists().visibleCount(), 1u);
    EXPECT_EQ(renderer->renderLists().visibleNode(0), root->child(0));
    EXPECT_EQ(renderer->renderLists().all.count(), 1u);
}

TEST_F(ImmediateSceneTest, RendererViewportIsRestoredAfterwards)
{
    renderer->addPass(new RenderPass());
    renderer->viewport[2] = 100;
    renderer->viewport[3] = 50;
    renderer->renderFromCamera(root, *camera);
    EXPECT_EQ(device.log.front(), "viewport 0 0 100 50");
    EXPECT_EQ(device.log.back(), "viewport 0 0 640 480");
    EXPECT_EQ(display->context().viewport[2], 640);
}

TEST_F(ImmediateSceneTest, StatisticsCountTrianglesOnlyForListeners)
{
    ParameterRegistry& registry = ParameterRegistry::instance();
    renderer->visibleNodesCounter = registry.getParameter(packName("test"), packName("visible"));
    renderer->trianglesCounter = registry.getParameter(packName("test"), packName("triangles"));
    renderer->verticesCounter = registry.getParameter(packName("test"), packName("vertices"));
    renderer->statistics = 1;
    renderer->addPass(new RenderPass());
    root->child(1)->hidden = 0; // two visible: 3 and 4 vertices, drawn as triangle lists
    renderer->trianglesCounter->setValue(-1);

    renderer->renderFromCamera(root, *camera);
    EXPECT_EQ(renderer->visibleNodesCounter->value(), 2.0f);
    EXPECT_EQ(renderer->trianglesCounter->value(), -1.0f);

    renderer->trianglesCounter->addListener(new Watcher());
    renderer->renderFromCamera(root, *camera);
    EXPECT_EQ(renderer->trianglesCounter->value(), 2.0f);
    EXPECT_EQ(renderer->verticesCounter->value(), 7.0f);
}

TEST_F(ImmediateSceneTest, RemovingAPassTakesEveryReference)
{
    auto* twice = new RenderPass();
    renderer->addPass(twice);
    renderer->addPass(new RenderPass());
    renderer->addPass(twice);
    std::ostringstream text;
    renderer->describe(text);
    EXPECT_EQ(text.str().rfind("Render passes (3):\n- RenderPass\n- RenderPass\n- RenderPass\n", 0), 0u);
    Ref keep(twice);
    renderer->removePass(twice);
    EXPECT_EQ(renderer->passCount(), 1u);
    EXPECT_EQ(twice->refCount(), 1);
}

} // namespace
} // namespace quern::test
