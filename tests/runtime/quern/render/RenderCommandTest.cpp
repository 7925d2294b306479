#include "RenderTestSupport.h"

#include "quern/render/Culler.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderLists.h"

#include <gtest/gtest.h>

#include <vector>

namespace quern::test {
namespace {

using render::RenderCommand;
using render::RenderCommandList;

int g_queuesDestroyed = 0;

class CountingQueue final : public render::RenderQueue {
public:
    ~CountingQueue() override { ++g_queuesDestroyed; }
};

class Callback final : public render::RenderCallback {
public:
    void run(RenderCommand& command) override { seen.push_back(command); }
    std::vector<RenderCommand> seen;
};

class RenderCommandTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        cameraHold = Ref(new scene::Camera());
        camera = cameraHold.get<scene::Camera>();
        rootHold = Ref(new scene::Node());
        root = rootHold.get<scene::Node>();
        g_queuesDestroyed = 0;
    }

    std::vector<u32> types() const
    {
        std::vector<u32> out;
        for (u64 i = 0; i < list.count(); ++i)
            out.push_back(list.at(i).type);
        return out;
    }

    Ref cameraHold;
    scene::Camera* camera = nullptr;
    Ref rootHold;
    scene::Node* root = nullptr;
    RenderCommandList list;
};

TEST_F(RenderCommandTest, AnEmptyListTouchesNothing)
{
    list.compile(*display);
    list.execute(*display);
    EXPECT_TRUE(device.log.empty());
}

TEST_F(RenderCommandTest, ClearStoresTheColourAsRoundedBytes)
{
    const f32 colour[4] = { 1.0f, 0.5f, 0.0f, 1.0f };
    list.clear(nullptr, 2, colour, 0.25f);
    const u64 word = list.at(0).operands[0];
    EXPECT_EQ(RenderCommand::low(word), 2u);
    const u32 bytes = RenderCommand::high(word);
    EXPECT_EQ(bytes & 0xff, 255u);
    EXPECT_EQ((bytes >> 8) & 0xff, 128u);
    EXPECT_EQ((bytes >> 16) & 0xff, 0u);
    EXPECT_EQ(bytes >> 24, 255u);
}

TEST_F(RenderCommandTest, CompileDropsEmptyClearsAndKeepsDepthClears)
{
    const f32 colour[4] = { 0.0f, 0.0f, 1.0f, 1.0f };
    list.setRenderTarget(nullptr);
    list.clear(nullptr, 0, colour, 1.0f);
    list.clear(nullptr, 2, colour, 1.0f);
    list.compile(*display);
    EXPECT_EQ(types(),
        (std::vector<u32> { RenderCommand::SetRenderTarget, RenderCommand::SetViewport, RenderCommand::Clear }));
    EXPECT_EQ(list.commands().capacity(), 3u);
    list.execute(*display);
    const std::vector<std::string> expected = { "begin frame", "bind window", "viewport 0 0 640 480",
        "clear window 2 0 0 1 1", "unbind window", "end frame" };
    EXPECT_EQ(device.log, expected);
}

TEST_F(RenderCommandTest, DrawsWithoutATargetGetTheWindowFirst)
{
    list.renderScene(root, camera, nullptr, nullptr, nullptr);
    list.renderScene(root, camera, nullptr, nullptr, nullptr);
    list.compile(*display);
    const std::vector<u32> expected = { RenderCommand::Cull, RenderCommand::SetViewport, RenderCommand::SetRenderTarget,
        RenderCommand::SetViewport, RenderCommand::RenderScene, RenderCommand::Cull, RenderCommand::SetViewport,
        RenderCommand::SetRenderTarget, RenderCommand::SetViewport, RenderCommand::RenderScene };
    EXPECT_EQ(types(), expected);
    graphics::TextureRenderTarget* window = display->context().windowRenderTarget;
    ASSERT_NE(window, nullptr);
    for (u64 i = 0; i < list.count(); ++i)
        EXPECT_EQ(list.at(i).target, window) << i;
    // The window's target is asked of the device once and kept.
    list.reset();
    list.renderScene(root, camera, nullptr, nullptr, nullptr);
    list.compile(*display);
    EXPECT_EQ(device.windowTargetsMade, 1u);
}

TEST_F(RenderCommandTest, RenderSceneUsesTheListsOfTheCullBeforeIt)
{
    const i32 rect[4] = { 10, 20, 30, 40 };
    list.setRenderTarget(nullptr);
    list.renderScene(root, camera, nullptr, nullptr, rect);
    list.compile(*display);
    ASSERT_EQ(types(),
        (std::vector<u32> { RenderCommand::SetRenderTarget, RenderCommand::SetViewport, RenderCommand::Cull,
            RenderCommand::SetViewport, RenderCommand::RenderScene }));
    render::RenderLists* lists = list.at(2).renderLists;
    ASSERT_NE(lists, nullptr);
    EXPECT_EQ(list.at(3).renderLists, lists);
    EXPECT_EQ(list.at(4).renderLists, lists);

    // A visible node is collected once per execution, into the same lists.
    Ref meshHold(makeMesh());
    auto* node = new scene::Node();
    node->setVisual(meshHold.get<visuals::Visual>());
    node->setTranslation(0, 0, -10);
    root->addChild(node);
    list.execute(*display);
    list.execute(*display);
    EXPECT_EQ(list.at(4).renderLists, lists);
    EXPECT_EQ(lists->visibleCount(), 1u);
    EXPECT_EQ(device.draws.size(), 2u);
    EXPECT_EQ(device.count("viewport 10 20 30 40"), 2u);
}

TEST_F(RenderCommandTest, ViewportsFallBackToTheTargetThenTheDisplay)
{
    Ref texture(device.createRenderTarget());
    auto* target = texture.get<RecordingTarget>();
    Ref sized(device.createRenderTarget());
    auto* own = sized.get<RecordingTarget>();
    own->setSize(64, 32);
    list.setRenderTarget(nullptr); // the window: the display's size
    list.setRenderTarget(own); // its own viewport
    list.setRenderTarget(target); // a texture target without viewport: its size, 0 x 0
    const i32 rect[4] = { 1, 2, 3, 4 };
    list.setViewport(rect);
    list.compile(*display);
    list.execute(*display);
    const std::vector<std::string> expected = { "begin frame", "bind window", "viewport 0 0 640 480", "bind target",
        "viewport 0 0 64 32", "bind target", "viewport 0 0 0 0", "viewport 1 2 3 4", "unbind target", "end frame" };
    EXPECT_EQ(device.log, expected);
    EXPECT_EQ(display->context().viewport[2], 3);
}

TEST_F(RenderCommandTest, EveryOwnedQueueAndListIsReleasedOnce)
{
    list.renderScene(root, camera, new CountingQueue(), nullptr, nullptr);
    list.renderScene(root, camera, new CountingQueue(), nullptr, nullptr);
    list.compile(*display); // moves the commands into new storage
    EXPECT_EQ(g_queuesDestroyed, 0);
    list.reset();
    EXPECT_EQ(g_queuesDestroyed, 2);
    EXPECT_EQ(list.count(), 0u);
    {
        RenderCommandList other;
        other.renderScene(root, camera, new CountingQueue(), nullptr, nullptr);
        other.compile(*display);
    }
    EXPECT_EQ(g_queuesDestroyed, 3);
}

TEST_F(RenderCommandTest, CustomCommandsSeeTheResolvedTargetAndLists)
{
    Callback callback;
    list.renderScene(root, camera, nullptr, nullptr, nullptr);
    RenderCommand custom;
    custom.type = RenderCommand::Custom;
    custom.setPointer(0, &callback);
    list.append(custom);
    list.compile(*display);
    list.execute(*display);
    ASSERT_EQ(callback.seen.size(), 1u);
    EXPECT_EQ(callback.seen[0].target, display->context().windowRenderTarget);
    EXPECT_EQ(callback.seen[0].renderLists, list.at(0).renderLists);
}

TEST_F(RenderCommandTest, RenderVisualDrawsWithTheGivenMatrices)
{
    Ref meshHold(makeMesh());
    const math::Matrix4 projection = math::Matrix4::perspective(1.0f, 1.5f, 1.0f, 50.0f, true);
    math::Matrix4 worldView;
    worldView.m[12] = 3;
    worldView.m[14] = -7;
    RenderCommand command;
    command.type = RenderCommand::RenderVisual;
    command.setPointer(0, new render::RenderQueue());
    command.setPointer(1, &projection);
    command.setPointer(2, &worldView);
    command.setPointer(3, meshHold.get<visuals::Visual>());
    list.append(command);
    list.compile(*display);
    list.execute(*display);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_TRUE(nearMatrix(device.draws[0].worldViewProjection, projection * worldView));
    EXPECT_EQ(device.count("bind window"), 1u);
}

TEST_F(RenderCommandTest, ACullWithItsOwnCullerUsesIt)
{
    class Collector final : public render::Culler {
    public:
        void cull(const math::Frustum&, render::RenderLists& lists) override
        {
            ++runs;
            lists.clear();
        }
        int runs = 0;
    } culler;
    list.renderScene(nullptr, camera, nullptr, &culler, nullptr);
    list.compile(*display);
    list.execute(*display);
    EXPECT_EQ(culler.runs, 1);
    EXPECT_EQ(list.at(0).pointer<render::Culler>(1), &culler);
}

} // namespace
} // namespace quern::test
