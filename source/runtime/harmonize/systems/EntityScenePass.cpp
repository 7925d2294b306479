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
    kSkip = 0, // nothing of this pass to draw here
    kDraw = 1,
    kNoVertices = 2, // a visual without a vertex buffer
    kInside = 3, // between the chunk's two sweeps: in view, node not looked at yet
};

// The six planes of a frustum, read once per cull.
struct CullPlanes {
    explicit CullPlanes(const Frustum& frustum)
    {
        for (i32 side = 0; side < 6; ++side)
            planes[side] = frustum.getPlane(static_cast<Frustum::Side>(side));
    }
    // Frustum::testSphere's outside: on the far side of a plane by the radius.
    bool outside(const BoundingSphere& sphere) const
    {
        for (const quern::math::Plane& plane : planes)
            if (plane.nx * sphere.centre[0] + plane.ny * sphere.centre[1] + plane.nz * sphere.centre[2] + plane.d
                <= -sphere.radius)
                return true;
        return false;
    }

    quern::math::Plane planes[6];
};

// Nodes whose flags change their render transform draw nothing until their
// vertex buffer holds something.
bool hasRenderFlags(const Node& node) { return (node.identityLocal | node.cancelParentScale | node.detached) != 0; }

// The frustum tests of one pass, in chunks. A chunk reads nodes, pass bytes
// and world spheres, which nothing writes while culling runs, and writes only
// its own slots' visibility bytes and verdicts. It tests the packed spheres
// first and visits the nodes of the slots in view only.
class EntityCullTask final : public quern::threads::Task {
public:
    EntityCullTask(const CullPlanes& planes, const std::vector<quern::Ref>& nodes, const u8* passIndices, u8 pass,
        u8* visible, u8* verdicts, const TransformHierarchySystem& hierarchy, u32 count)
        : Task(count)
        , m_planes(planes)
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
        // Locals: the byte stores below could alias the members otherwise.
        const u8* passIndices = m_passIndices;
        u8* visible = m_visible;
        u8* verdicts = m_verdicts;
        const u8 pass = m_pass;
        for (u32 i = range.firstItem; i < end; ++i) {
            const u8 inside = passIndices[i] == pass && !m_planes.outside(m_hierarchy.worldBounds(i)) ? 1 : 0;
            const u8 tested = passIndices[i] == pass ? 1 : 0;
            // Outside: culled. Inside or another pass's: as it was.
            visible[i] = static_cast<u8>(visible[i] & (inside | (tested ^ 1)));
            verdicts[i] = static_cast<u8>(inside * kInside);
        }
        for (u32 i = range.firstItem; i < end; ++i) {
            if (verdicts[i] != kInside)
                continue;
            prefetch(i, end);
            verdicts[i] = judge(m_nodes[i].get<Node>());
        }
    }

private:
    // Nodes and visuals live wherever their allocations put them: ask for
    // the node a few slots ahead, and for the visual of a nearer one whose
    // node has arrived by now, so the misses overlap instead of queueing.
    static constexpr u32 kNodeDistance = 32;
    static constexpr u32 kVisualDistance = 16;

    void prefetch(u32 i, u32 end) const
    {
        if (i + kNodeDistance < end && m_verdicts[i + kNodeDistance] == kInside)
            if (const Node* ahead = m_nodes[i + kNodeDistance].get<Node>()) {
                // The drawing flags, and the visual's handle less than a line after them.
                __builtin_prefetch(&ahead->hidden);
                __builtin_prefetch(&ahead->hidden + 64);
            }
        if (i + kVisualDistance < end && m_verdicts[i + kVisualDistance] == kInside)
            if (const Node* near = m_nodes[i + kVisualDistance].get<Node>())
                __builtin_prefetch(near->visual());
    }

    static u8 judge(const Node* node)
    {
        if (!node || node->hidden || !node->visual())
            return kSkip;
        const quern::graphics::VertexBuffer* vertices = node->visual()->vertexBuffer();
        if (!vertices)
            return kNoVertices;
        return vertices->byteSize() == 0 && hasRenderFlags(*node) ? kSkip : kDraw;
    }

    const CullPlanes& m_planes;
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

    const CullPlanes planes(frustum);
    EntityCullTask task(planes, nodes, m_passIndices.dataAs<u8>(), static_cast<u8>(m_passIndex), visible, verdicts,
        m_hierarchy, static_cast<quern::u32>(count));
    if (Settings::Threading.enabled && m_dispatcher) {
        m_dispatcher->run(task);
        m_dispatcher->wait(task);
    } else {
        quern::threads::Task::runInline(task);
    }

    // Every slot's node is written past the end of the visible list and kept
    // when it is drawn: no branch on a verdict that is as likely one way as
    // the other.
    quern::containers::Array& drawn = lists.visible;
    drawn.reserve(count);
    Node** out = drawn.dataAs<Node*>();
    u64 kept = 0;
    for (u64 i = 0; i < count; ++i) {
        out[kept] = nodes[i].get<Node>();
        kept += verdicts[i] == kDraw ? 1 : 0;
        if (verdicts[i] == kNoVertices) {
            // Reported here rather than in the chunks: the assertion hook is
            // not the workers' to call.
            quern::debug::softAssert(nodes[i].get<Node>()->name().c_str(), "", __FILE__, __LINE__);
        }
    }
    drawn.expand(kept);
    lists.all.assign(drawn.data(), drawn.end());
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
