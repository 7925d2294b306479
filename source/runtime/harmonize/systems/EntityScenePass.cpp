#include "harmonize/systems/EntityScenePass.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/TransformHierarchySystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/graphics/VertexBuffer.h"
#include "quern/math/Frustum.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderLists.h"
#include "quern/render/RenderQueue.h"
#include "quern/scene/Node.h"
#include "quern/threads/Task.h"
#include "quern/visuals/Visual.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harmonize {
namespace {

using quern::math::Frustum;
using quern::scene::Node;

// What the chunks leave for the calling thread, per slot.
enum Verdict : u8 {
    kSkip = 0, // no node of this pass to draw
    kDrawWhenVisible = 1, // tested in the chunk (or nothing to test): drawn unless culled
    kTestHere = 2, // a node whose render transform the flags change: tested on the calling thread
    kNoVertices = 3, // a visual without a vertex buffer
};

bool isOutside(const Frustum& frustum, const BoundingSphere& sphere)
{
    const quern::math::Vector3 centre { sphere.centre[0], sphere.centre[1], sphere.centre[2] };
    return frustum.testSphere(centre, sphere.radius) == Frustum::TestResult::Outside;
}

bool hasRenderFlags(const Node& node) { return (node.identityLocal | node.cancelParentScale | node.detached) != 0; }

// Frustum tests of the ordinary nodes of one pass, in chunks. A chunk reads
// nodes, pass indices and world spheres, which nothing writes while culling
// runs, and writes only its own slots' visibility bytes and verdicts.
class EntityCullTask final : public quern::threads::Task {
public:
    EntityCullTask(const Frustum& frustum, const std::vector<quern::Ref>& nodes, const u8* passIndices, u8 pass,
        u8* visible, u8* verdicts, const TransformHierarchySystem& hierarchy, u32 count)
        : Task(count)
        , m_frustum(frustum)
        , m_nodes(nodes)
        , m_passIndices(passIndices)
        , m_visible(visible)
        , m_verdicts(verdicts)
        , m_hierarchy(hierarchy)
        , m_pass(pass)
    {
    }

    void run(quern::threads::TaskRange range) override
    {
        const u32 end = range.firstItem + range.itemCount;
        for (u32 i = range.firstItem; i < end; ++i)
            m_verdicts[i] = judge(i);
    }

private:
    u8 judge(u32 i)
    {
        if (m_passIndices[i] != m_pass)
            return kSkip;
        const Node* node = m_nodes[i].get<Node>();
        if (!node || node->hidden)
            return kSkip;
        const quern::visuals::Visual* visual = node->visual();
        if (!visual)
            return kSkip;
        const quern::graphics::VertexBuffer* vertices = visual->vertexBuffer();
        if (!vertices)
            return kNoVertices;
        const bool empty = vertices->byteSize() == 0;
        if (hasRenderFlags(*node))
            return empty ? kSkip : kTestHere;
        if (!empty && isOutside(m_frustum, m_hierarchy.worldBounds(i)))
            m_visible[i] = 0;
        return kDrawWhenVisible;
    }

    const Frustum& m_frustum;
    const std::vector<quern::Ref>& m_nodes;
    const u8* m_passIndices;
    u8* m_visible;
    u8* m_verdicts;
    const TransformHierarchySystem& m_hierarchy;
    u8 m_pass;
};

} // namespace

EntityScenePass::~EntityScenePass() { nodes.clear(); }

void EntityScenePass::recordCommands(quern::render::RenderCommandList& list)
{
    // Bind and clear as every pass does; the scene pass's own cull of a root
    // is replaced by the entity culler.
    RenderPass::recordCommands(list);
    const bool hasArea = static_cast<quern::i64>(viewport[2]) * viewport[3] > 0;
    list.renderScene(nullptr, camera(), quern::render::RenderQueue::create(), culler, hasArea ? viewport : nullptr);
}

EntityCuller::EntityCuller(EntityScenePass& mainPass, i32 passIndex, quern::containers::Array& passIndices,
    quern::containers::Array& visible, TaskDispatcher* dispatcher, TransformHierarchySystem& hierarchy)
    : m_mainPass(mainPass)
    , m_passIndex(passIndex)
    , m_verdicts(sizeof(u8), 1)
    , m_passIndices(passIndices)
    , m_visible(visible)
    , m_dispatcher(dispatcher)
    , m_hierarchy(hierarchy)
{
}

void EntityCuller::cull(const Frustum& frustum, quern::render::RenderLists& lists)
{
    const std::vector<quern::Ref>& nodes = m_mainPass.nodes;
    const u64 count = std::min<u64>({ nodes.size(), m_passIndices.count(), m_visible.count() });
    u8* visible = m_visible.dataAs<u8>();
    // Pass 0 culls first in every frame: what the previous frame culled is
    // tested again.
    if (m_passIndex == 0 && count > 0)
        std::memset(visible, 1, count);
    lists.clear();
    if (count == 0)
        return;
    if (m_verdicts.count() < count)
        m_verdicts.expand(count);
    u8* verdicts = m_verdicts.dataAs<u8>();

    EntityCullTask task(frustum, nodes, m_passIndices.dataAs<u8>(), static_cast<u8>(m_passIndex), visible, verdicts,
        m_hierarchy, static_cast<quern::u32>(count));
    if (Settings::Threading.enabled && m_dispatcher) {
        m_dispatcher->run(task);
        m_dispatcher->wait(task);
    } else {
        quern::threads::Task::runInline(task);
    }

    for (u64 i = 0; i < count; ++i) {
        switch (verdicts[i]) {
        case kSkip:
            break;
        case kDrawWhenVisible:
            if (visible[i])
                lists.addVisible(nodes[i].get<Node>());
            break;
        case kTestHere:
            if (!isOutside(frustum, m_hierarchy.worldBounds(i)))
                lists.addVisible(nodes[i].get<Node>());
            else
                visible[i] = 0;
            break;
        case kNoVertices:
            // Reported here rather than in the chunks: the assertion hook is
            // not the workers' to call.
            quern::debug::softAssert(nodes[i].get<Node>()->name().c_str(), "", __FILE__, __LINE__);
            break;
        }
    }
}

void ShadowCasterCuller::cull(const Frustum& frustum, quern::render::RenderLists& lists)
{
    lists.clear();
    for (const quern::Ref& held : m_mainPass.nodes) {
        Node* node = held.get<Node>();
        if (!node || node->hidden || (node->shadowMode != 1 && node->shadowMode != 2))
            continue;
        quern::visuals::Visual* visual = node->visual();
        if (!visual)
            continue;
        quern::math::Matrix4 world;
        node->getRenderTransform(world);
        quern::math::Vector3 localCentre;
        const quern::f32 localRadius = visual->getBoundingSphere(localCentre);
        const quern::math::Vector3 centre = world.transformPoint(localCentre);
        const quern::f32 radius = localRadius * quern::visuals::largestAxisScale(world.m);
        if (std::fabs(radius) > 0.00001f && frustum.testSphere(centre, radius) != Frustum::TestResult::Outside)
            lists.addVisible(node);
    }
}

} // namespace harmonize
