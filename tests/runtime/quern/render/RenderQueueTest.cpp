#include "RenderTestSupport.h"

#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/parameter/Parameter.h"
#include "quern/render/RenderLists.h"

#include <gtest/gtest.h>

#include <vector>

namespace quern::test {
namespace {

using render::RenderJob;
using render::RenderQueue;
using SortMode = render::RenderQueue::SortMode;

// A pass that counts how often the override is merged into it.
class CountingShader final : public graphics::Shader {
public:
    void overlay(const graphics::Shader& override, graphics::Shader& out) const override
    {
        ++merges;
        Shader::overlay(override, out);
    }
    mutable int merges = 0;
};

class RenderQueueTest : public RecordingDisplayTest {
protected:
    void SetUp() override
    {
        RecordingDisplayTest::SetUp();
        held.emplace_back(makeMesh());
        mesh = held.back().get<visuals::MeshVisual>();
    }

    RenderJob* addJob(graphics::Shader* shader, f32 depth)
    {
        RenderJob* job = queue.state().takeJob();
        job->shader = shader;
        job->depthKey = depth;
        job->vertexBuffer = mesh->vertexBuffer();
        queue.state().jobs.append(job);
        return job;
    }

    std::vector<f32> depthOrder() const
    {
        std::vector<f32> order;
        for (u64 i = 0; i < queue.jobCount(); ++i)
            order.push_back(queue.job(i)->depthKey);
        return order;
    }

    graphics::Shader* keep(graphics::Shader* shader)
    {
        held.emplace_back(shader);
        return shader;
    }

    f32 renderJobs() { return queue.state().renderJobs->value(); }

    std::vector<Ref> held;
    visuals::MeshVisual* mesh = nullptr;
    RenderQueue queue;
};

TEST_F(RenderQueueTest, SortModesOrderTheJobs)
{
    graphics::Shader* opaque = keep(makeShader(false));
    graphics::Shader* clear = keep(makeShader(true));
    struct Job {
        bool transparent;
        f32 depth;
    };
    struct Case {
        SortMode mode;
        std::vector<Job> jobs;
        std::vector<f32> order;
    };
    const Case cases[] = {
        { SortMode::ByState, { { true, 4 }, { false, 100 }, { true, 9 } }, { 100, 9, 4 } },
        { SortMode::FrontToBack, { { false, 1 }, { false, 16 }, { true, 4 } }, { 1, 4, 16 } },
        { SortMode::BackToFront, { { false, 1 }, { false, 16 }, { true, 4 } }, { 16, 4, 1 } },
        { SortMode::Unsorted, { { false, 1 }, { false, 16 }, { true, 4 } }, { 1, 16, 4 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<u32>(c.mode));
        for (const Job& job : c.jobs)
            addJob(job.transparent ? clear : opaque, job.depth);
        queue.sort(c.mode);
        EXPECT_EQ(depthOrder(), c.order);
        queue.reset();
    }
}

TEST_F(RenderQueueTest, TheStateKeyGroupsTexturesAndPrograms)
{
    Ref vertexProgram(new graphics::NullShaderProgram(graphics::ShaderProgramType::Vertex));
    Ref fragmentProgram(new graphics::NullShaderProgram(graphics::ShaderProgramType::Fragment));
    Ref texture(new graphics::Texture());
    auto dressed = [&]() {
        graphics::Shader* shader = keep(makeShader(false));
        graphics::ShaderProgramState* programs = shader->getShaderProgramState();
        programs->setVertexProgram(vertexProgram.get<graphics::ShaderProgram>());
        programs->setFragmentProgram(fragmentProgram.get<graphics::ShaderProgram>());
        shader->getTextureState()->setTexture(0, texture.get<graphics::Texture>());
        return shader;
    };
    RenderJob* a = addJob(dressed(), 1);
    RenderJob* b = addJob(dressed(), 2);
    RenderJob* plain = addJob(keep(makeShader(false)), 3);
    queue.sort(SortMode::ByState);

    auto bits = [](const void* object) { return (reinterpret_cast<uintptr_t>(object) >> 4) & 0xffff; };
    const u64 expected = (1ull << 63) | (bits(texture.object()) << 36)
        | (bits(vertexProgram.get<graphics::ShaderProgram>()) << 12)
        | bits(fragmentProgram.get<graphics::ShaderProgram>());
    EXPECT_EQ(a->sortKey, expected);
    EXPECT_EQ(b->sortKey, expected);
    EXPECT_EQ(plain->sortKey, 1ull << 63);
    queue.reset();
}

TEST_F(RenderQueueTest, FlushingAnEmptyQueueOnlyCountsAndResets)
{
    queue.setWorldMatrix(math::Matrix4::perspective(1, 1, 1, 2, true));
    queue.state().renderJobs->setValue(7);
    render::RenderContext context;
    queue.flush(context);
    EXPECT_EQ(renderJobs(), 0.0f);
    EXPECT_TRUE(device.log.empty());
    EXPECT_EQ(queue.state().world, &math::kIdentityMatrix);
    EXPECT_EQ(queue.state().matrixPool.blockCount(), 0u);
}

TEST_F(RenderQueueTest, PoolsGrowByAHundredAndEmptyOnReset)
{
    render::RenderContext context;
    for (int i = 0; i < 150; ++i)
        queue.submitVisual(mesh, context);
    EXPECT_EQ(queue.jobCount(), 150u);
    EXPECT_EQ(queue.state().jobPool.blockCount(), 2u);
    queue.flush(context);
    EXPECT_EQ(renderJobs(), 150.0f);
    EXPECT_EQ(queue.jobCount(), 0u);
    EXPECT_EQ(queue.state().jobPool.blockCount(), 0u);
    EXPECT_EQ(device.draws.size(), 150u);
}

TEST_F(RenderQueueTest, DispatchTellsTheDeviceEachDrawInOrder)
{
    graphics::Shader* shader = keep(makeShader(false));
    RenderJob* job = addJob(shader, 1);
    auto* overrideImage = reinterpret_cast<graphics::PixelBuffer*>(0x4000);
    job->textures.images[1] = overrideImage;
    render::RenderContext context;
    queue.flush(context);
    const std::vector<std::string> expected = { "unbind state", "bind state 1", "textures 2", "uniforms", "draw 0 3" };
    EXPECT_EQ(device.log, expected);
    ASSERT_EQ(device.draws.size(), 1u);
    EXPECT_EQ(device.draws[0].shader, shader);
    EXPECT_EQ(device.draws[0].textures[1], overrideImage);
    EXPECT_EQ(device.draws[0].indices, nullptr);
}

TEST_F(RenderQueueTest, DrawRangesStayInsideTheBuffers)
{
    struct Case {
        const char* name;
        u64 vertices;
        int indices; // -1: no index buffer
        u32 bufferStart;
        i32 bufferCount;
        u32 jobFirst;
        i32 jobCount;
        int drawnFirst; // -1: nothing drawn
        u32 drawnCount;
    };
    const Case cases[] = {
        { "whole vertex buffer", 6, -1, 0, -1, 0, -1, 0, 6 },
        { "no vertices", 0, -1, 0, -1, 0, -1, -1, 0 },
        { "the index buffer's range", 6, 12, 3, 6, 0, -1, 3, 6 },
        { "to the end of the indices", 6, 12, 4, -1, 0, -1, 4, 8 },
        { "the job's own range", 6, 12, 0, -1, 2, 3, 2, 3 },
        { "the job's first index to the end", 6, 12, 0, -1, 5, -1, 5, 7 },
        { "a first index at the end", 6, 12, 12, -1, 0, -1, -1, 0 },
        { "a first index past the end", 6, 12, 0, -1, 40, -1, -1, 0 },
        { "vertices from a first vertex", 6, 0, 2, -1, 0, -1, 2, 4 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ref holdMesh(makeMesh(c.vertices));
        auto* drawn = holdMesh.get<visuals::MeshVisual>();
        RenderJob* job = addJob(keep(makeShader(false)), 1);
        job->vertexBuffer = drawn->vertexBuffer();
        Ref holdIndices;
        if (c.indices >= 0) {
            holdIndices = Ref(device.createIndexBuffer(kStaticDraw));
            auto* ib = holdIndices.getCounted<graphics::IndexBuffer>();
            ib->setElementSize(2);
            ib->resizeElements(static_cast<u64>(c.indices));
            ib->setDrawRange(c.bufferStart, c.bufferCount);
            job->indexBuffer = ib;
        }
        job->firstIndex = c.jobFirst;
        job->indexCount = c.jobCount;
        render::RenderContext context;
        device.forget();
        queue.flush(context);
        if (c.drawnFirst < 0) {
            EXPECT_TRUE(device.draws.empty());
        } else {
            ASSERT_EQ(device.draws.size(), 1u);
            EXPECT_EQ(device.draws[0].first, static_cast<u32>(c.drawnFirst));
            EXPECT_EQ(device.draws[0].count, c.drawnCount);
        }
    }
}

TEST_F(RenderQueueTest, TheOverrideIsMergedOnlyWhenTheShaderChanges)
{
    auto* first = new CountingShader();
    auto* second = new CountingShader();
    keep(first);
    keep(second);
    graphics::Shader* override = keep(makeShader(true));
    queue.setOverrideMaterial(override);
    graphics::Shader* merged = queue.overrideState();
    ASSERT_NE(merged, nullptr);
    ASSERT_NE(merged, override);
    for (u32 i = 0; i < graphics::kRenderStateCount; ++i)
        EXPECT_EQ(merged->renderState(static_cast<graphics::RenderStateID>(i)), nullptr);

    addJob(first, 1);
    addJob(first, 1);
    addJob(second, 1);
    addJob(first, 1);
    queue.sortMode = SortMode::Unsorted;
    render::RenderContext context;
    queue.flush(context);
    EXPECT_EQ(first->merges, 2);
    EXPECT_EQ(second->merges, 1);
    ASSERT_EQ(device.draws.size(), 4u);
    for (const RecordedDraw& draw : device.draws)
        EXPECT_EQ(draw.shader, merged);
    // The override's blending reached the drawn pass.
    EXPECT_TRUE(merged->usesTransparency());

    queue.setOverrideMaterial(override); // the same: nothing changes
    EXPECT_EQ(queue.overrideState(), merged);
    queue.setOverrideMaterial(nullptr);
    EXPECT_EQ(queue.overrideShader(), nullptr);
    EXPECT_EQ(queue.overrideState(), nullptr);
}

TEST_F(RenderQueueTest, ACloneIsAFreshQueueOfTheSameClass)
{
    queue.sortMode = SortMode::BackToFront;
    queue.setOverrideMaterial(keep(makeShader(false)));
    std::unique_ptr<RenderQueue> copy(queue.clone());
    EXPECT_EQ(copy->sortMode, SortMode::ByState);
    EXPECT_EQ(copy->overrideShader(), nullptr);

    render::CollectingRenderQueue collecting;
    std::unique_ptr<RenderQueue> collectingCopy(collecting.clone());
    EXPECT_NE(dynamic_cast<render::CollectingRenderQueue*>(collectingCopy.get()), nullptr);
    std::unique_ptr<RenderQueue> created(RenderQueue::create());
    EXPECT_EQ(dynamic_cast<render::CollectingRenderQueue*>(created.get()), nullptr);
}

TEST_F(RenderQueueTest, ACollectingQueueCountsButNeverDraws)
{
    render::CollectingRenderQueue collecting;
    render::RenderContext context;
    collecting.submitVisual(mesh, context);
    collecting.submitVisual(mesh, context);
    collecting.flush(context);
    EXPECT_EQ(collecting.state().renderJobs->value(), 2.0f);
    EXPECT_EQ(collecting.jobCount(), 0u);
    EXPECT_TRUE(device.log.empty());
}

TEST_F(RenderQueueTest, RenderSceneDrawsEachVisibleNodeWithItsMatrices)
{
    Ref holdCamera(new scene::Camera());
    auto& camera = *holdCamera.get<scene::Camera>();
    camera.setTranslation(0, 0, 10);
    Ref holdNode(new scene::Node());
    auto* node = holdNode.get<scene::Node>();
    node->setVisual(mesh);
    node->setTranslation(1, 2, -3);
    node->setScale(2, 2, 2);
    render::RenderLists lists;
    lists.addVisible(node);

    queue.renderScene(lists, camera);
    ASSERT_EQ(device.draws.size(), 1u);
    const math::Matrix4 view = camera.viewMatrix();
    const math::Matrix4 world = node->getWorldTransform();
    const math::Matrix4 expected = camera.projectionMatrix() * view * world;
    EXPECT_TRUE(nearMatrix(device.draws[0].worldViewProjection, expected));
    EXPECT_TRUE(nearMatrix(device.draws[0].world, world));
    EXPECT_EQ(queue.jobCount(), 0u);
    EXPECT_EQ(renderJobs(), 1.0f);
}

TEST(DepthKey, IsTheSquareOfClipZPlusW)
{
    const math::Matrix4 projection = math::Matrix4::perspective(1.0f, 1.0f, 1.0f, 100.0f, true);
    // On the near plane clip z = -w: the key is 0; farther away it grows.
    EXPECT_NEAR(render::depthKey(projection, { 0, 0, -1 }), 0.0f, 1e-6f);
    const f32 at10 = render::depthKey(projection, { 0, 0, -10 });
    const f32 at50 = render::depthKey(projection, { 3, 0, -50 });
    EXPECT_GT(at10, 0.0f);
    EXPECT_GT(at50, at10);
    f32 clip[4];
    projection.transform(0, 0, -10, 1, clip);
    EXPECT_FLOAT_EQ(at10, (clip[2] + clip[3]) * (clip[2] + clip[3]));
}

using RenderQueueDeathTest = RenderQueueTest;

TEST_F(RenderQueueDeathTest, AnUnknownSortModeIsFatal)
{
    addJob(keep(makeShader(false)), 1);
    queue.sortMode = static_cast<SortMode>(4);
    render::RenderContext context;
    EXPECT_DEATH(queue.flush(context), "Invalid enum value for type RenderQueue::SortMode");
    queue.reset();
}

} // namespace
} // namespace quern::test
