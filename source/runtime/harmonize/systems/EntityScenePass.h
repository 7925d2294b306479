#pragma once
// The render system's two scene passes and their cullers. Pass 0 draws the
// world's entities, pass 1 the subtrees moved there to be drawn after the post
// effects. Both cull pass 0's entity nodes: the frustum tests of the world
// spheres run in chunks on the task dispatcher, each chunk writing only its
// own range of visibility bytes. The shadow-caster culler picks the casters
// for the shadow-map pass.

#include "quern/containers/Array.h"
#include "quern/language/RefCounted.h"
#include "quern/render/Culler.h"
#include "quern/render/ScenePass.h"
#include "quern/scene/Node.h"

#include <vector>

namespace harmonize {

using quern::i32;
using quern::u8;

class EntityCuller;
class TaskDispatcher;

// What the render system's node sync found out about an entity's node for
// drawing, packed per entity so the culler reads no node in the common case.
// Whatever changes a node or its visual after the sync leaves Judge, and the
// culler looks at the node itself.
enum NodeDrawState : u8 {
    kNodeSkip = 0, // no node, no visual or hidden
    kNodeDraw = 1, // drawn when its sphere is in view
    kNodeJudge = 2, // look at the node
};

// Nodes with these flags are tested against their render transform, not the
// hierarchy's sphere, and draw nothing until their vertex buffer holds
// something.
inline bool hasRenderFlags(const quern::scene::Node& node)
{
    return (node.identityLocal | node.cancelParentScale | node.detached) != 0;
}
class TransformHierarchySystem;

class EntityScenePass : public quern::render::ScenePass {
public:
    EntityScenePass() = default;
    ~EntityScenePass() override;

    // Bind and clear the output, then cull with `culler` and draw the
    // visible nodes through a new queue, in `viewport` when it has an area.
    void recordCommands(quern::render::RenderCommandList& list) override;

    // Pass 0's entity nodes by entity index (empty in pass 1).
    std::vector<quern::Ref> nodes;
    EntityCuller* culler = nullptr; // owned by the world allocator
    i32 viewport[4] = { 0, 0, 0, 0 }; // x, y, width, height; no area: the whole target
};

class EntityCuller final : public quern::render::Culler {
public:
    EntityCuller(EntityScenePass& mainPass, i32 passIndex, quern::containers::Array& passIndices,
        quern::containers::Array& visible, quern::containers::Array& drawStates,
        quern::containers::Array& drawNodes, TaskDispatcher* dispatcher, TransformHierarchySystem& hierarchy);

    void cull(const quern::math::Frustum& frustum, quern::render::RenderLists& lists) override;

private:
    EntityScenePass& m_mainPass;
    i32 m_passIndex;
    // u8 per slot: what the chunks found of the slot's node, for the calling
    // thread to act on without visiting the nodes again.
    quern::containers::Array m_verdicts;
    quern::containers::Array& m_passIndices; // u8 per entity
    quern::containers::Array& m_visible; // u8 per entity
    quern::containers::Array& m_drawStates; // NodeDrawState per entity
    // Node* per entity, as the node sync saw it: the node of a kNodeDraw slot.
    quern::containers::Array& m_drawNodes;
    TaskDispatcher* m_dispatcher;
    TransformHierarchySystem& m_hierarchy;
};

class ShadowCasterCuller final : public quern::render::Culler {
public:
    explicit ShadowCasterCuller(EntityScenePass& mainPass)
        : m_mainPass(mainPass)
    {
    }

    void cull(const quern::math::Frustum& frustum, quern::render::RenderLists& lists) override;

private:
    EntityScenePass& m_mainPass;
};

} // namespace harmonize
