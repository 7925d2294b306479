#pragma once
// The element of the scene graph: a transform relative to its parent, an
// ordered list of children it keeps alive, an optional visual, cached world
// transform, world scale and world bounds, a cull strategy and the drawing
// flags its owner writes. Setters mark dirty bits down the tree (transforms)
// and up the tree (bounds); the caches are rebuilt lazily on the next query,
// and a setter given the current value marks nothing.
//
// Matrices are the engine's (column vectors): world = parentWorld * local.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Quaternion.h"
#include "quern/math/Vector3.h"
#include "quern/scene/NodeLink.h"
#include "quern/scene/NodeListenerList.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quern::math {
class Frustum;
struct Ray;
} // namespace quern::math

namespace quern::visuals {
class Visual;
class VisualChangeListener;
} // namespace quern::visuals

namespace quern::scene {

class NodeVisitor;

class Node : public LinkTarget, public NodeListenerList {
public:
    enum class CullStrategy : u32 {
        // The sphere against the six planes, the box when it straddles one.
        BoundingSphere = 0,
        BoundingBox = 1,
        // The node and its whole subtree are accepted untested.
        AlwaysInside = 2,
        AlwaysInsideSubtree = 3,
    };

    // Bits of flags().
    enum DirtyBits : u32 {
        LocalDirty = 1u << 0,
        WorldDirty = 1u << 1,
        WorldScaleDirty = 1u << 2,
        SphereDirty = 1u << 3,
        BoxDirty = 1u << 4,
        ProjectionDirty = 1u << 5, // cameras
    };
    static constexpr u32 kBoundsDirty = SphereDirty | BoxDirty;

    Node();
    ~Node() override;

    virtual void setTranslation(f32 x, f32 y, f32 z);
    virtual void setScale(f32 x, f32 y, f32 z);
    virtual void setRotation(f32 x, f32 y, f32 z, f32 w);
    // q turns first, in the node's own frame: rotation becomes rotation * q.
    virtual void rotate(const math::Quaternion& q);
    // The world-space sphere around the node and its subtree; returns the radius.
    virtual f32 getBoundingSphere(math::Vector3& centre);
    // The world-space box around the node and its subtree.
    virtual void getBoundingBox(math::Vector3& min, math::Vector3& max);
    // visit, then every child's visitAll.
    virtual void visitAll(NodeVisitor& visitor, u32 flag);
    virtual void cull(NodeVisitor& visitor, const math::Frustum& frustum);
    virtual void raycast(NodeVisitor& visitor, const math::Ray& ray);
    virtual void visit(NodeVisitor& visitor, u32 flag);
    // A deep copy of the subtree with fresh ids and no parent (count 0).
    virtual Node* clone() const;
    virtual void describe(std::ostream& out);
    // Rotation (scaled per axis when the scale is not 1), then translation.
    virtual void computeLocalTransform(math::Matrix4& out);

    // Tells this node's listeners, then its visual's, then its children's
    // from the last to the first.
    void notify(f32 a, f32 b) override;

    // Appends the child (moving it from another parent); null or a child of
    // this node changes nothing.
    void addChild(Node* child);
    // Returns the position of the next child.
    u64 removeChild(u64 position);
    void removeAllChildren();
    u64 childCount() const { return m_children.size(); }
    Node* child(u64 index) const { return m_children[index].get<Node>(); }
    Node* parent() const { return m_parent.getAs<Node>(); }

    void setVisual(visuals::Visual* visual);
    visuals::Visual* visual() const { return m_visual.get<visuals::Visual>(); }

    const math::Matrix4& getWorldTransform();
    const math::Vector3& getWorldScale();
    // Own rotation followed by the parent chain's (not cached).
    math::Quaternion getWorldRotation();
    // The world matrix the renderer draws with, honouring the identity-local,
    // cancel-parent-scale and detached flags; the node ends as it began
    // (a detached node moves to the end of its parent's children).
    void getRenderTransform(math::Matrix4& out);

    // The bounds of a node whose visual changed are rebuilt on the next query.
    void markBoundsDirty() { markSelfAndAncestors(kBoundsDirty); }

    const math::Vector3& translation() const { return m_translation; }
    const math::Quaternion& rotation() const { return m_rotation; }
    const math::Vector3& scale() const { return m_scale; }
    const math::Matrix4& localTransform() const { return m_local; }
    u32 flags() const { return m_flags; }
    void setFlags(u32 bits) { m_flags |= bits; }
    CullStrategy cullStrategy() const { return m_cullStrategy; }
    void setCullStrategy(CullStrategy strategy) { m_cullStrategy = strategy; }
    u32 id() const { return m_id; }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }
    bool hasNonUnitScale() const { return m_nonUnitScale != 0; }

    // Read by the shadow module: 2 casts even when hidden, 1 when not hidden, 0 never.
    u32 shadowMode = 0;
    u8 hidden = 0;
    u8 identityLocal = 0;
    u8 cancelParentScale = 0;
    u8 detached = 0;

protected:
    // Copies everything but the children, the parent and the id.
    Node(const Node& other);
    // Clones every child of `source` under this node.
    void cloneChildrenOf(const Node& source);
    void markSubtree(u32 bits);
    void markSelfAndAncestors(u32 bits);
    void markAncestors(u32 bits);

    // What culling reads of every node comes first, in few cache lines.
    u32 m_flags = 0;

private:
    CullStrategy m_cullStrategy = CullStrategy::BoundingSphere;
    math::Vector3 m_sphereCentre;
    f32 m_sphereRadius = 0.0f;
    std::vector<Ref> m_children;
    Ref m_visual;

protected:
    math::Matrix4 m_world;
    math::Matrix4 m_local;

private:
    void markChildren(u32 bits);
    // The cull result of the strategy, fatal for an unknown one.
    u32 classify(const math::Frustum& frustum);
    void mergeChildSpheres();
    void mergeChildBoxes();
    u64 positionOf(const Node* child) const;

    math::Quaternion m_rotation;
    math::Vector3 m_translation;
    math::Vector3 m_scale = math::kUnitScale;
    math::Vector3 m_worldScale = math::kUnitScale;
    math::Vector3 m_boxMin;
    math::Vector3 m_boxMax;
    NodeLink m_parent;
    visuals::VisualChangeListener* m_visualListener = nullptr;
    u8 m_nonUnitScale = 0;
    u32 m_id;
    std::string m_name;
};

// The two spheres' smallest enclosing sphere (radius returned); a sphere of
// radius 0 counts as none.
f32 mergeSpheres(math::Vector3& centre, f32 radius, const math::Vector3& otherCentre, f32 otherRadius);

} // namespace quern::scene
