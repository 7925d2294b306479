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
    kDrawJudged = 4, // drawn, on the node's own word rather than the node sync's
};

// The six planes of a frustum, read once per cull, laid out component by
// component (and padded with two planes nothing is outside of) so that one
// sphere is tested against all of them with a few vector operations.
struct CullPlanes {
    explicit CullPlanes(const Frustum& frustum)
    {
        for (i32 side = 0; side < 8; ++side) {
            quern::math::Plane plane;
            if (side < 6)
                plane = frustum.getPlane(static_cast<Frustum::Side>(side));
            else
                plane.d = kFar;
            nx[side] = plane.nx;
            ny[side] = plane.ny;
            nz[side] = plane.nz;
            d[side] = plane.d;
        }
    }
    // Frustum::testSphere's outside: on the far side of a plane by the radius.
    // All planes are tested: about half of a level's spheres are in view, and
    // an early way out would be a branch the processor cannot guess.
    bool outside(const BoundingSphere& sphere) const
    {
        const f32 x = sphere.centre[0], y = sphere.centre[1], z = sphere.centre[2], limit = -sphere.radius;
        i32 out = 0;
        for (i32 k = 0; k < 8; ++k)
            out |= nx[k] * x + ny[k] * y + nz[k] * z + d[k] <= limit ? 1 : 0;
        return out != 0;
    }

    static constexpr f32 kFar = 3.0e38f;
    alignas(16) f32 nx[8];
    alignas(16) f32 ny[8];
    alignas(16) f32 nz[8];
    alignas(16) f32 d[8];
};


// The frustum tests of one pass, in chunks. A chunk reads nodes, pass bytes
// and world spheres, which nothing writes while culling runs, and writes only
// its own slots' visibility bytes and verdicts. It tests the packed spheres
// first and visits the nodes of the slots in view only.
class EntityCullTask final : public quern::threads::Task {
public:
    EntityCullTask(const CullPlanes& planes, const std::vector<quern::Ref>& nodes, const u8* passIndices,
        const u8* drawStates, u8 pass, u8* visible, u8* verdicts, const TransformHierarchySystem& hierarchy,
        u32 count)
        : Task(count)
        , m_planes(planes)
        , m_nodes(nodes)
        , m_passIndices(passIndices)
        , m_drawStates(drawStates)
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
        // What a slot in view becomes, by the node sync's word on its node:
        // skipped, drawn, or left for the node itself to say.
        static constexpr u8 kInView[3] = { kSkip, kDraw, kInside };
        const u8* drawStates = m_drawStates;
        for (u32 i = range.firstItem; i < end; ++i) {
            const u8 tested = passIndices[i] == pass ? 1 : 0;
            const u8 inside = static_cast<u8>(tested & (m_planes.outside(m_hierarchy.worldBounds(i)) ? 0 : 1));
            // Outside: culled. Inside or another pass's: as it was.
            visible[i] = static_cast<u8>(visible[i] & (inside | (tested ^ 1)));
            const u8 state = drawStates[i] < 3 ? drawStates[i] : static_cast<u8>(kNodeJudge);
            verdicts[i] = static_cast<u8>(kInView[state] & static_cast<u8>(-inside));
        }
        // The nodes something changed since the node sync.
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

    bool judged(u32 i) const { return m_verdicts[i] == kInside; }
    void prefetch(u32 i, u32 end) const
    {
        if (i + kNodeDistance < end && judged(i + kNodeDistance))
            if (const Node* ahead = m_nodes[i + kNodeDistance].get<Node>()) {
                // The drawing flags, and the visual's handle less than a line after them.
                __builtin_prefetch(&ahead->hidden);
                __builtin_prefetch(&ahead->hidden + 64);
            }
        if (i + kVisualDistance < end && judged(i + kVisualDistance))
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
        return vertices->byteSize() == 0 && hasRenderFlags(*node) ? kSkip : kDrawJudged;
    }

    const CullPlanes& m_planes;
    const std::vector<quern::Ref>& m_nodes;
    const u8* m_passIndices;
    const u8* m_drawStates;
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
    quern::containers::Array& visible, quern::containers::Array& drawStates, quern::containers::Array& drawNodes,
    TaskDispatcher* dispatcher, TransformHierarchySystem& hierarchy)
    : m_mainPass(mainPass)
    , m_passIndex(passIndex)
    , m_verdicts(sizeof(u8), 1)
    , m_passIndices(passIndices)
    , m_visible(visible)
    , m_drawStates(drawStates)
    , m_drawNodes(drawNodes)
    , m_dispatcher(dispatcher)
    , m_hierarchy(hierarchy)
{
}

void EntityCuller::cull(const Frustum& frustum, quern::render::RenderLists& lists)
{
    const std::vector<quern::Ref>& nodes = m_mainPass.nodes;
    const u64 count = std::min<u64>({ nodes.size(), m_passIndices.count(), m_visible.count(), m_drawStates.count(),
        m_drawNodes.count() });
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
    EntityCullTask task(planes, nodes, m_passIndices.dataAs<u8>(), m_drawStates.dataAs<u8>(),
        static_cast<u8>(m_passIndex), visible, verdicts, m_hierarchy, static_cast<quern::u32>(count));
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
    // The node sync's packed pointers serve the slots it vouched for; the
    // few judged slots read their node.
    Node* const* synced = m_drawNodes.dataAs<Node*>();
    for (u64 i = 0; i < count; ++i) {
        const u8 verdict = verdicts[i];
        out[kept] = synced[i];
        kept += verdict == kDraw ? 1 : 0;
        if (verdict == kDrawJudged) {
            out[kept++] = nodes[i].get<Node>();
        } else if (verdict == kNoVertices) {
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
