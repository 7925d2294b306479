#include "RenderWorld.h"

#include "harmonize/ThreadingSettings.h"
#include "harmonize/display/FrameLayout.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/math/Frustum.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderLists.h"
#include "support/SoftAssertRecorder.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

using namespace harmonize;
using harmonize::testing::RenderWorld;
using quern::f32;
using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::math::Frustum;
using quern::math::Matrix4;
using quern::math::Vector3;
using quern::render::RenderCommand;
using quern::render::RenderLists;
using quern::scene::Node;

namespace {

constexpr u64 kCube = 101;
constexpr u64 kSpeck = 102;
const std::vector<Vector3> kUnitCube = { { -1, -1, -1 }, { 1, 1, 1 } };

// Looks down -z: x and y within 10 of the axis, z from -1 to -100.
Frustum boxView() { return Frustum(Matrix4::identity(), Matrix4::orthographic(-10, 10, 10, -10, 1, 100, true)); }

class EntityScenePassTest : public harmonize::testing::RenderWorldTest {
protected:
    // The entities the pass's culler lets through, by entity index.
    std::set<u64> cull(u64 pass, const Frustum& frustum = boxView())
    {
        return cullWith(*w->render->pass(pass)->culler, frustum);
    }
    std::set<u64> cullWith(quern::render::Culler& culler, const Frustum& frustum = boxView())
    {
        RenderLists lists;
        culler.cull(frustum, lists);
        std::set<u64> drawn;
        const std::vector<quern::Ref>& nodes = w->render->pass(0)->nodes;
        for (u64 i = 0; i < lists.visibleCount(); ++i)
            for (u64 slot = 0; slot < nodes.size(); ++slot)
                if (nodes[slot].object() == lists.visibleNode(i))
                    drawn.insert(slot);
        EXPECT_EQ(drawn.size(), lists.visibleCount()) << "each node once";
        return drawn;
    }
    // A culler of the world's nodes over visibility, pass and draw-state
    // bytes of the test's own, every node in pass 0 unless moved, and every
    // node looked at by the culler itself.
    struct OwnCuller {
        OwnCuller(RenderWorld& world, i32 pass, TaskDispatcher* dispatcher)
            : culler(*world.render->pass(0), pass, passIndices, visible, drawStates, drawNodes, dispatcher,
                *world.hierarchy)
        {
            const u64 count = world.render->pass(0)->nodes.size();
            passIndices.expand(count);
            visible.expand(count);
            drawStates.expand(count);
            drawNodes.expand(count);
            std::memset(passIndices.data(), 0, count);
            std::memset(visible.data(), 1, count);
            std::memset(drawStates.data(), kNodeJudge, count);
            std::memset(drawNodes.data(), 0, count * sizeof(void*));
        }
        u8 visibleByte(EntityHandle e) const { return visible.at<u8>(e.index()); }

        quern::containers::Array passIndices { 1, 1 };
        quern::containers::Array visible { 1, 1 };
        quern::containers::Array drawStates { 1, 1 };
        quern::containers::Array drawNodes { sizeof(void*), alignof(void*) };
        EntityCuller culler;
    };

    std::set<u64> indices(std::initializer_list<EntityHandle> entities)
    {
        std::set<u64> out;
        for (EntityHandle e : entities)
            out.insert(e.index());
        return out;
    }
};

// Bind, viewport, clear, cull with the pass's culler, then the scene in the
// pass viewport when it has an area.
TEST_F(EntityScenePassTest, PassesCullWithTheirCullerAndDrawInTheirViewport)
{
    w->scene.add("camera", { "Transform", "CameraLens" });
    w->start();
    for (u64 index : { 0u, 1u }) {
        SCOPED_TRACE(index);
        EntityScenePass& pass = *w->render->pass(index);
        quern::render::RenderCommandList list;
        pass.recordCommands(list);
        const RenderCommand::Type expected[] = { RenderCommand::SetRenderTarget, RenderCommand::SetViewport,
            RenderCommand::Clear, RenderCommand::Cull, RenderCommand::SetViewport, RenderCommand::RenderScene };
        ASSERT_EQ(list.count(), std::size(expected));
        for (u64 i = 0; i < list.count(); ++i)
            EXPECT_EQ(list.at(i).type, expected[i]) << i;
        EXPECT_EQ(RenderCommand::low(list.at(2).operands[0]), index == 0 ? 0x7FFFFFFFu : 2u);
        EXPECT_EQ(list.at(3).pointer<EntityCuller>(1), pass.culler);
        EXPECT_EQ(list.at(5).pointer<quern::scene::Camera>(1), w->render->currentCamera());
        const RenderCommand& viewport = list.at(4);
        if (index == 0) {
            EXPECT_EQ(static_cast<i32>(RenderCommand::low(viewport.operands[1])), -1) << "the whole target";
        } else {
            const ViewportRect output = computeOutputViewport();
            EXPECT_EQ(RenderCommand::low(viewport.operands[0]), static_cast<u32>(output.x));
            EXPECT_EQ(RenderCommand::high(viewport.operands[0]), static_cast<u32>(output.y));
            EXPECT_EQ(RenderCommand::low(viewport.operands[1]), static_cast<u32>(output.width));
            EXPECT_EQ(RenderCommand::high(viewport.operands[1]), static_cast<u32>(output.height));
            EXPECT_GT(output.width, 0);
        }
    }
}

// Pass 0 resets every visibility byte before it tests: what one frame culled
// is tested again in the next.
TEST_F(EntityScenePassTest, NodesOutsideTheFrustumAreCulledAndTestedAgainNextFrame)
{
    w->preloadMesh(kCube, kUnitCube);
    const EntityHandle middle = w->addMeshEntity("middle", kCube, { 0, 0, -5 });
    const EntityHandle edge = w->addMeshEntity("edge", kCube, { 10.5f, 0, -5 });
    const EntityHandle right = w->addMeshEntity("right", kCube, { 30, 0, -5 });
    const EntityHandle behind = w->addMeshEntity("behind", kCube, { 0, 0, 5 });
    w->start();
    EXPECT_EQ(cull(0), indices({ middle, edge }));
    EXPECT_EQ(w->render->pass(1)->nodes.size(), 0u) << "only pass 0 keeps nodes";

    w->scene.get<Transform>(right).position = { 5, 0, -5 };
    w->scene.get<Transform>(behind).position = { 0, 0, -50 };
    w->hierarchy->updateWorldMatrices(w->world());
    EXPECT_EQ(cull(0), indices({ middle, edge, right, behind }));
}

// The culler takes the node sync's word on a node only while nothing changed
// it since: a node destroyed, hidden or given a visual after the sync is
// looked at again.
TEST_F(EntityScenePassTest, NodesChangedSinceTheNodeSyncAreLookedAtAgain)
{
    w->preloadMesh(kCube, kUnitCube);
    const EntityHandle kept = w->addMeshEntity("kept", kCube, { 0, 0, -5 });
    const EntityHandle gone = w->addMeshEntity("gone", kCube, { 2, 0, -5 });
    const EntityHandle late = w->scene.add("late", { "Transform", "Renderer", "ParticleAppearance" });
    w->scene.get<Transform>(late).position = { -2, 0, -5 };
    w->start();
    w->updateAt(0);
    EXPECT_EQ(cull(0), indices({ kept, gone }));

    w->world().destroyEntities(&gone, 1);
    EXPECT_EQ(cull(0), indices({ kept })) << "no node of a destroyed entity, and no null in the list";

    w->render->getOrCreateVisual(late.index());
    quern::testing::SoftAssertRecorder asserts;
    EXPECT_EQ(cull(0), indices({ kept })) << "a visual with no vertex buffer yet is reported, not drawn";
    EXPECT_EQ(asserts.messages, std::vector<std::string> { "late" });

    w->scene.world().getEnabledMask(kept.index()).reset(Renderable::kType);
    w->updateAt(20'000);
    EXPECT_TRUE(cull(0).empty()) << "hidden at the next sync";
}

// A subtree moved to pass 1 is drawn only by pass 1, and back again.
TEST_F(EntityScenePassTest, SubtreesInPassOneAreDrawnOnlyByPassOne)
{
    w->preloadMesh(kCube, kUnitCube);
    const EntityHandle bubble = w->addMeshEntity("bubble", kCube, { 0, 0, -5 });
    const EntityHandle text = w->addMeshEntity("text", kCube, { 0, 0, 0 }, bubble);
    const EntityHandle icon = w->addMeshEntity("icon", kCube, { 1, 0, 0 }, text);
    const EntityHandle level = w->addMeshEntity("level", kCube, { 2, 0, -5 });
    w->start();
    EXPECT_EQ(cull(0), indices({ bubble, text, icon, level }));
    EXPECT_TRUE(cull(1).empty());

    w->render->setVisibleRecursive(bubble.index(), 1, w->world());
    EXPECT_EQ(cull(0), indices({ level }));
    EXPECT_EQ(cull(1), indices({ bubble, text, icon }));

    // Culled by pass 1 in one frame, drawn again after pass 0's reset.
    w->scene.get<Transform>(bubble).position = { 40, 0, -5 };
    w->hierarchy->updateWorldMatrices(w->world());
    cull(0);
    EXPECT_TRUE(cull(1).empty());
    w->scene.get<Transform>(bubble).position = { 0, 0, -5 };
    w->hierarchy->updateWorldMatrices(w->world());
    cull(0);
    EXPECT_EQ(cull(1), indices({ bubble, text, icon }));

    w->render->setVisibleRecursive(text.index(), 0, w->world());
    EXPECT_EQ(cull(0), indices({ text, icon, level }));
    EXPECT_EQ(cull(1), indices({ bubble }));
}

// Nodes whose flags change their render transform (here: an emitter's
// cancelled parent scale) draw nothing until their vertex buffer holds
// something; ordinary nodes in view are drawn whatever their buffer holds.
TEST_F(EntityScenePassTest, FlaggedNodesWithEmptyBuffersAreSkipped)
{
    w->preloadMesh(kCube, kUnitCube);
    auto add = [&](const char* name, std::initializer_list<const char*> components, Vector3 at) {
        const EntityHandle e = w->scene.add(name, components);
        w->scene.get<Transform>(e).position = at;
        return e;
    };
    const EntityHandle emptyFlagged
        = add("empty flagged", { "Transform", "Renderer", "TextLabel", "ParticleSpawner" }, { 0, 0, -5 });
    const EntityHandle emptyText = add("empty text", { "Transform", "Renderer", "TextLabel" }, { 2, 0, -5 });
    const EntityHandle farText = add("far text", { "Transform", "Renderer", "TextLabel" }, { 50, 0, -5 });
    const EntityHandle near = w->addMeshEntity("near", kCube, { 0, 0, -5 });
    const EntityHandle far = w->addMeshEntity("far", kCube, { 50, 0, -5 });
    for (EntityHandle e : { near, far }) {
        w->world().getComponentMask(e.index()).set(ParticleSpawner::kType);
        w->world().getEnabledMask(e.index()).set(ParticleSpawner::kType);
    }
    w->start();
    ASSERT_EQ(w->node(emptyFlagged)->cancelParentScale, 1);
    ASSERT_EQ(w->node(near)->cancelParentScale, 1);
    ASSERT_EQ(w->render->visual(emptyFlagged.index())->vertexBuffer()->byteSize(), 0u);

    OwnCuller own(*w, 0, nullptr);
    EXPECT_EQ(cullWith(own.culler), indices({ emptyText, near }));
    EXPECT_EQ(own.visibleByte(emptyFlagged), 1) << "in view, with nothing to draw yet";
    EXPECT_EQ(own.visibleByte(far), 0);
    EXPECT_EQ(own.visibleByte(farText), 0);
    EXPECT_EQ(cull(0), indices({ emptyText, near })) << "the render system's own culler agrees";
}

TEST_F(EntityScenePassTest, AVisualWithoutVerticesIsReportedByItsNodesName)
{
    const EntityHandle e = w->scene.add("bare emitter", { "Transform", "Renderer", "ParticleAppearance" });
    w->scene.get<Transform>(e).position = { 0, 0, -5 };
    w->start();
    ASSERT_NE(w->render->getOrCreateVisual(e.index()), nullptr);
    w->updateAt(0);
    quern::testing::SoftAssertRecorder asserts;
    EXPECT_TRUE(cull(0).empty());
    EXPECT_EQ(asserts.messages, std::vector<std::string> { "bare emitter" });
}

// The same world culled inline and in chunks on four workers: the same
// visible set and the same visibility bytes.
TEST_F(EntityScenePassTest, ThreadingOnAndOffGiveTheSameVisibleSet)
{
    TaskDispatcher dispatcher;
    dispatcher.start(harmonize::testing::threading(true, 4, 0));
    ASSERT_TRUE(dispatcher.threaded());
    w = std::make_unique<RenderWorld>(3000, &dispatcher);
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMesh(kSpeck, { { 0, 0, 0 } });
    std::mt19937 random(1234);
    std::uniform_real_distribution<f32> spread(-30.0f, 30.0f);
    std::vector<EntityHandle> entities;
    for (u32 i = 0; i < 2900; ++i) {
        const Vector3 at { spread(random), spread(random), -std::abs(spread(random)) - 0.5f };
        const EntityHandle e = w->addMeshEntity(
            "e", i % 7 == 0 ? kSpeck : kCube, at, i % 11 == 0 && !entities.empty() ? entities[i / 2] : EntityHandle {});
        if (i % 13 == 0)
            w->world().getEnabledMask(e.index()).reset(Renderable::kType);
        if (i % 17 == 0) {
            w->world().getComponentMask(e.index()).set(22);
            w->world().getEnabledMask(e.index()).set(22);
        }
        entities.push_back(e);
    }
    w->start();
    w->updateAt(0);
    for (u32 i = 0; i < entities.size(); i += 19)
        w->render->setVisibleRecursive(entities[i].index(), 1, w->world());

    // Culled inline, then in chunks, over the same bytes the render system keeps.
    Settings::Threading.enabled = false;
    const std::set<u64> inline0 = cull(0);
    const std::set<u64> inline1 = cull(1);
    dispatcher.flipFrame();
    Settings::Threading.enabled = true;
    const std::set<u64> chunked0 = cull(0);
    const std::set<u64> chunked1 = cull(1);
    EXPECT_GT(dispatcher.tasksThisFrame(), 0u) << "the chunks ran on the dispatcher";
    EXPECT_EQ(chunked0, inline0);
    EXPECT_EQ(chunked1, inline1);
    EXPECT_GT(inline0.size(), 100u);
    EXPECT_LT(inline0.size(), 2000u);
    EXPECT_GT(inline1.size(), 10u);

    // The visibility bytes, through cullers of the test's own.
    OwnCuller alone(*w, 0, &dispatcher);
    OwnCuller chunked(*w, 0, &dispatcher);
    Settings::Threading.enabled = false;
    const std::set<u64> aloneSet = cullWith(alone.culler);
    Settings::Threading.enabled = true;
    EXPECT_EQ(cullWith(chunked.culler), aloneSet);
    const u64 count = w->render->pass(0)->nodes.size();
    EXPECT_EQ(std::memcmp(alone.visible.data(), chunked.visible.data(), count), 0);
    u64 culled = 0;
    for (u64 i = 0; i < count; ++i)
        culled += alone.visible.at<u8>(i) == 0 ? 1 : 0;
    EXPECT_GT(culled, 100u);
    w.reset();
    dispatcher.stop();
}

TEST_F(EntityScenePassTest, ShadowCastersAreShownNodesWithSomeSizeInTheLightsView)
{
    w->preloadMesh(kCube, kUnitCube);
    w->preloadMesh(kSpeck, { { 0, 0, 0 } });
    auto caster = [&](const char* name, u64 mesh, Vector3 at) {
        const EntityHandle e = w->addMeshEntity(name, mesh, at);
        w->scene.set(e, "Renderer", "castsShadows", { 1 });
        return e;
    };
    const EntityHandle inside = caster("inside", kCube, { 0, 0, -5 });
    caster("outside", kCube, { 40, 0, -5 });
    caster("speck", kSpeck, { 0, 0, -5 });
    const EntityHandle hidden = caster("hidden", kCube, { 0, 0, -5 });
    w->world().getEnabledMask(hidden.index()).reset(Renderable::kType);
    w->addMeshEntity("no shadow", kCube, { 0, 0, -5 });
    const EntityHandle scaled = caster("scaled", kCube, { 14, 0, -5 });
    w->scene.get<Transform>(scaled).scale = { 1, 5, 1 };
    w->start();
    w->updateAt(0);

    ShadowCasterCuller culler(*w->render->pass(0));
    RenderLists lists;
    culler.cull(boxView(), lists);
    std::set<Node*> drawn;
    for (u64 i = 0; i < lists.visibleCount(); ++i)
        drawn.insert(lists.visibleNode(i));
    EXPECT_EQ(drawn, (std::set<Node*> { w->node(inside), w->node(scaled) }));
}

} // namespace
