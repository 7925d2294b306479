#include "harmonize/render/QuadPasses.h"

#include "support/RecordingGraphicsBackEnd.h"

#include "harmonize/Settings.h"
#include "harmonize/display/DisplaySettings.h"
#include "harmonize/render/PostEffect.h"
#include "harmonize/render/QuadRenderer.h"
#include "harmonize/render/RenderTargetPool.h"

#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/SpriteMaterial.h"
#include "quern/render/PassList.h"
#include "quern/render/RenderQueue.h"
#include "quern/visuals/MeshVisual.h"

#include <memory>
#include <utility>
#include <vector>

namespace harmonize {
namespace {

using quern::graphics::TextureRenderTarget;
using quern::render::RenderCommand;
using quern::test::RecordingTarget;

// Writes down what it was asked to do and answers as told.
class ScriptedEffect final : public PostEffect {
public:
    explicit ScriptedEffect(bool answer)
        : m_answer(answer)
    {
    }
    bool apply(TextureRenderTarget* source, TextureRenderTarget* destination, QuadRenderer&, RenderTargetPool&) override
    {
        calls.emplace_back(source, destination);
        return m_answer;
    }

    std::vector<std::pair<TextureRenderTarget*, TextureRenderTarget*>> calls;

private:
    bool m_answer;
};

class QuadPassesTest : public quern::test::RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        Settings::resetToDefaults();
        processDisplaySize() = DisplaySize { 1920, 1200 };
        pool = std::make_unique<RenderTargetPool>(*display);
        first = quern::Ref(new RecordingTarget(device, "first"));
        second = quern::Ref(new RecordingTarget(device, "second"));
        targets.set(first.get<TextureRenderTarget>(), second.get<TextureRenderTarget>());
    }
    void TearDown() override
    {
        passes.clearPasses();
        targets.release();
        first.reset();
        second.reset();
        processDisplaySize() = DisplaySize {};
        RecordingDisplayTest::TearDown();
    }

    CallbackQuadPass* callbackPass(PostEffect& effect)
    {
        auto* pass = new CallbackQuadPass(effect, quads, *pool, targets);
        passes.addPass(pass);
        return pass;
    }

    quern::Ref first;
    quern::Ref second;
    PostProcessTargets targets;
    QuadRenderer quads;
    std::unique_ptr<RenderTargetPool> pool;
    quern::render::PassList passes;
};

TEST_F(QuadPassesTest, AFullscreenPassClearsToBlackAndDrawsItsQuadIntoTheOutputViewport)
{
    auto* pass = new FullscreenQuadPass();
    passes.addPass(pass);
    EXPECT_EQ(pass->clearFlags, 1u);
    EXPECT_EQ(pass->clearColour[3], 1.0f);
    ASSERT_NE(pass->material(), nullptr);
    const quern::f32* projection = pass->projection().m;
    EXPECT_EQ(projection[0], 1.0f);
    EXPECT_EQ(projection[5], 1.0f);
    EXPECT_EQ(projection[10], -1.0f);
    EXPECT_EQ(projection[14], 0.0f);
    quern::Ref output(new RecordingTarget(device, "output"));
    pass->setOutput(output.get<TextureRenderTarget>());

    quern::render::RenderCommandList& list = passes.commandList();
    list.recordPasses(passes);
    ASSERT_EQ(list.count(), 5u);
    EXPECT_EQ(list.at(0).type, RenderCommand::SetRenderTarget);
    EXPECT_EQ(list.at(0).target, output.get<TextureRenderTarget>());
    EXPECT_EQ(list.at(2).type, RenderCommand::Clear);
    EXPECT_EQ(RenderCommand::low(list.at(2).operands[0]), 1u);
    EXPECT_EQ(RenderCommand::high(list.at(2).operands[0]), 0xff000000u);
    // Settings at 0 on a 1920 x 1200 display: a 16:9 band in the middle.
    const RenderCommand& viewport = list.at(3);
    EXPECT_EQ(viewport.type, RenderCommand::SetViewport);
    EXPECT_EQ(viewport.operands[0], RenderCommand::pack(0, 60));
    EXPECT_EQ(viewport.operands[1], RenderCommand::pack(1920, 1080));
    const RenderCommand& draw = list.at(4);
    EXPECT_EQ(draw.type, RenderCommand::RenderVisual);
    EXPECT_NE(draw.pointer<quern::render::RenderQueue>(0), nullptr);
    EXPECT_EQ(draw.pointer<const quern::math::Matrix4>(1), &pass->projection());
    EXPECT_EQ(draw.pointer<quern::visuals::MeshVisual>(3), pass->visual());

    // The first recording set the quad up with the pass's material.
    EXPECT_TRUE(pass->isSetUp());
    ASSERT_NE(pass->visual()->vertexBuffer(), nullptr);
    EXPECT_EQ(pass->visual()->vertexBuffer()->elementCount(), 4u);
    EXPECT_EQ(pass->visual()->subMeshCount(), 1u);
    EXPECT_EQ(pass->visual()->material(), pass->material());

    list.compile(*display);
    list.execute(*display);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].count, 4u);
    EXPECT_EQ(device.count("viewport 0 60 1920 1080"), 1u);
    EXPECT_EQ(device.count("clear output 1"), 1u);
}

TEST_F(QuadPassesTest, ACallbackPassRecordsOnlyOneCallToItself)
{
    ScriptedEffect effect(true);
    callbackPass(effect);
    quern::render::RenderCommandList& list = passes.commandList();
    list.recordPasses(passes);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.at(0).type, RenderCommand::Custom);
    ASSERT_NE(list.at(0).pointer<quern::render::RenderCallback>(0), nullptr);
    EXPECT_TRUE(effect.calls.empty());

    list.at(0).pointer<quern::render::RenderCallback>(0)->run(list.at(0));
    ASSERT_EQ(effect.calls.size(), 1u);
    EXPECT_EQ(effect.calls[0].first, first.get<TextureRenderTarget>());
    EXPECT_EQ(effect.calls[0].second, second.get<TextureRenderTarget>());
}

TEST_F(QuadPassesTest, TargetsSwapOnlyAfterAnEffectThatWroteTheDestination)
{
    // Ping-pong through a frame: true, false, true.
    ScriptedEffect wrote(true);
    ScriptedEffect skipped(false);
    ScriptedEffect last(true);
    callbackPass(wrote);
    callbackPass(skipped);
    callbackPass(last);
    passes.renderFrame(*display);

    auto* a = first.get<TextureRenderTarget>();
    auto* b = second.get<TextureRenderTarget>();
    ASSERT_EQ(wrote.calls.size(), 1u);
    ASSERT_EQ(skipped.calls.size(), 1u);
    ASSERT_EQ(last.calls.size(), 1u);
    EXPECT_EQ(wrote.calls[0], std::make_pair(a, b));
    EXPECT_EQ(skipped.calls[0], std::make_pair(b, a));
    EXPECT_EQ(last.calls[0], std::make_pair(b, a));
    EXPECT_EQ(targets.source, a);
    EXPECT_EQ(targets.destination, b);

    // Each frame starts again from first and second.
    targets.reset();
    passes.renderFrame(*display);
    EXPECT_EQ(wrote.calls[1], std::make_pair(a, b));
}

TEST_F(QuadPassesTest, WithoutTargetsACallbackPassRunsNothing)
{
    ScriptedEffect effect(true);
    callbackPass(effect);
    targets.release();
    passes.renderFrame(*display);
    EXPECT_TRUE(effect.calls.empty());
}

} // namespace
} // namespace harmonize
