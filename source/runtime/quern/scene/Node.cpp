#include "quern/scene/Node.h"

#include "quern/math/Frustum.h"
#include "quern/math/Ray.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/scene/NodeVisitor.h"
#include "quern/visuals/Visual.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <ostream>

namespace quern::scene {

namespace {

std::atomic<u32> g_nextNodeId { 1 };

constexpr u32 kTransformDirty = Node::WorldDirty | Node::WorldScaleDirty | Node::kBoundsDirty;
// Beyond this a squared distance would overflow.
constexpr f32 kLargestSquarable = 1.8446743e19f;

class NodeVisualListener final : public visuals::VisualChangeListener {
public:
    explicit NodeVisualListener(Node* node)
        : m_node(node)
    {
    }
    void visualChanged(visuals::Visual*) override { m_node->markBoundsDirty(); }

private:
    Node* m_node;
};

bool isZero(const math::Vector3& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

math::Vector3 componentMin(const math::Vector3& a, const math::Vector3& b)
{
    return { std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z) };
}

math::Vector3 componentMax(const math::Vector3& a, const math::Vector3& b)
{
    return { std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z) };
}

f32 distanceSquared(const math::Vector3& a, const math::Vector3& b)
{
    const math::Vector3 d = a - b;
    if (std::fabs(d.x) >= kLargestSquarable || std::fabs(d.y) >= kLargestSquarable
        || std::fabs(d.z) >= kLargestSquarable)
        return FLT_MAX;
    return d.lengthSquared();
}

} // namespace

f32 mergeSpheres(math::Vector3& centre, f32 radius, const math::Vector3& otherCentre, f32 otherRadius)
{
    if (otherRadius == 0.0f)
        return radius;
    if (radius == 0.0f) {
        centre = otherCentre;
        return otherRadius;
    }
    const f32 d2 = distanceSquared(centre, otherCentre);
    const f32 delta = radius - otherRadius;
    if (d2 <= delta * delta) {
        if (delta >= 0.0f)
            return radius;
        centre = otherCentre;
        return otherRadius;
    }
    const f32 d = std::sqrt(d2);
    const f32 fraction = (d + radius - otherRadius) / (2.0f * d);
    centre = otherCentre + (centre - otherCentre) * fraction;
    return (d + radius + otherRadius) * 0.5f;
}

Node::Node()
    : m_id(g_nextNodeId.fetch_add(1))
{
}

Node::Node(const Node& other)
    : LinkTarget()
    , NodeListenerList()
    , m_flags(other.m_flags)
    , m_cullStrategy(other.m_cullStrategy)
    , m_sphereCentre(other.m_sphereCentre)
    , m_sphereRadius(other.m_sphereRadius)
    , m_world(other.m_world)
    , m_local(other.m_local)
    , m_rotation(other.m_rotation)
    , m_translation(other.m_translation)
    , m_scale(other.m_scale)
    , m_worldScale(other.m_worldScale)
    , m_boxMin(other.m_boxMin)
    , m_boxMax(other.m_boxMax)
    , m_nonUnitScale(other.m_nonUnitScale)
    , m_id(g_nextNodeId.fetch_add(1))
    , m_name(other.m_name)
{
    shadowMode = other.shadowMode;
    hidden = other.hidden;
    identityLocal = other.identityLocal;
    cancelParentScale = other.cancelParentScale;
    detached = other.detached;
    setVisual(other.visual());
}

Node::~Node()
{
    clearLinks();
    for (u64 i = m_children.size(); i > 0; --i)
        removeChild(i - 1);
    if (m_visualListener) {
        if (visuals::Visual* current = visual())
            current->removeChangeListener(m_visualListener);
        delete m_visualListener;
        m_visualListener = nullptr;
    }
    m_visual.reset();
    m_parent.set(nullptr);
    removeAllListeners();
}

Node* Node::clone() const
{
    Node* copy = new Node(*this);
    copy->cloneChildrenOf(*this);
    return copy;
}

void Node::cloneChildrenOf(const Node& source)
{
    for (const Ref& held : source.m_children)
        addChild(held.get<Node>()->clone());
}

void Node::setTranslation(f32 x, f32 y, f32 z)
{
    if (m_translation == math::Vector3(x, y, z))
        return;
    m_translation = { x, y, z };
    m_flags |= LocalDirty | WorldDirty | kBoundsDirty;
    markChildren(WorldDirty | kBoundsDirty);
    markAncestors(kBoundsDirty);
}

void Node::setRotation(f32 x, f32 y, f32 z, f32 w)
{
    if (m_rotation == math::Quaternion(x, y, z, w))
        return;
    m_rotation = { x, y, z, w };
    m_flags |= LocalDirty | WorldDirty | kBoundsDirty;
    markChildren(WorldDirty | kBoundsDirty);
    markAncestors(kBoundsDirty);
}

void Node::setScale(f32 x, f32 y, f32 z)
{
    if (m_scale == math::Vector3(x, y, z))
        return;
    m_scale = { x, y, z };
    m_nonUnitScale = (x != 1.0f || y != 1.0f || z != 1.0f) ? 1 : 0;
    m_flags |= LocalDirty | kTransformDirty;
    markChildren(kTransformDirty);
    markAncestors(kBoundsDirty);
}

void Node::rotate(const math::Quaternion& q)
{
    const math::Quaternion turned = m_rotation * q;
    setRotation(turned.x, turned.y, turned.z, turned.w);
}

void Node::markSubtree(u32 bits)
{
    m_flags |= bits;
    markChildren(bits);
}

void Node::markChildren(u32 bits)
{
    for (const Ref& held : m_children)
        held.get<Node>()->markSubtree(bits);
}

void Node::markSelfAndAncestors(u32 bits)
{
    m_flags |= bits;
    markAncestors(bits);
}

void Node::markAncestors(u32 bits)
{
    for (Node* up = parent(); up; up = up->parent())
        up->m_flags |= bits;
}

u64 Node::positionOf(const Node* child) const
{
    for (u64 i = 0; i < m_children.size(); ++i)
        if (m_children[i].object() == child)
            return i;
    return m_children.size();
}

void Node::addChild(Node* child)
{
    if (!child || child->parent() == this)
        return;
    RefCounted::retain(child);
    if (Node* old = child->parent())
        old->removeChild(old->positionOf(child));
    m_children.emplace_back(child);
    child->m_parent.set(this);
    child->markSubtree(kTransformDirty);
    markSelfAndAncestors(kBoundsDirty);
    RefCounted::release(child);
}

u64 Node::removeChild(u64 position)
{
    if (position >= m_children.size())
        return position;
    Node* child = m_children[position].get<Node>();
    child->m_parent.set(nullptr);
    child->markSubtree(kTransformDirty);
    m_children.erase(m_children.begin() + static_cast<i64>(position));
    return position;
}

void Node::removeAllChildren()
{
    for (u64 i = m_children.size(); i > 0; --i)
        removeChild(i - 1);
    markSelfAndAncestors(kBoundsDirty);
}

void Node::setVisual(visuals::Visual* newVisual)
{
    visuals::Visual* old = visual();
    if (newVisual == old)
        return;
    if (newVisual) {
        if (!m_visualListener)
            m_visualListener = new NodeVisualListener(this);
        newVisual->addChangeListener(m_visualListener);
    }
    if (old && m_visualListener)
        old->removeChangeListener(m_visualListener);
    m_visual = newVisual ? Ref(newVisual) : Ref();
    markSelfAndAncestors(kBoundsDirty);
}

void Node::computeLocalTransform(math::Matrix4& out)
{
    out = m_rotation.toMatrix4();
    if (m_nonUnitScale) {
        const f32 scale[3] = { m_scale.x, m_scale.y, m_scale.z };
        for (int axis = 0; axis < 3; ++axis)
            for (int row = 0; row < 3; ++row)
                out.m[axis * 4 + row] *= scale[axis];
    }
    out.m[12] = m_translation.x;
    out.m[13] = m_translation.y;
    out.m[14] = m_translation.z;
    out.m[15] = 1.0f;
}

const math::Matrix4& Node::getWorldTransform()
{
    if (!(m_flags & WorldDirty))
        return m_world;
    // Cleared before the call: a camera's local refresh reads the world
    // transform itself, which must not refresh the local one again.
    if (m_flags & LocalDirty) {
        m_flags &= ~LocalDirty;
        computeLocalTransform(m_local);
    }
    // That refresh may already have brought the world transform up to date.
    if (m_flags & WorldDirty) {
        if (Node* up = parent()) {
            m_world = up->getWorldTransform();
            m_world.multiplyAffine(m_local);
        } else {
            m_world = m_local;
        }
        m_flags &= ~WorldDirty;
    }
    return m_world;
}

const math::Vector3& Node::getWorldScale()
{
    if (m_flags & WorldScaleDirty) {
        if (Node* up = parent()) {
            const math::Vector3& outer = up->getWorldScale();
            m_worldScale = { m_scale.x * outer.x, m_scale.y * outer.y, m_scale.z * outer.z };
        } else {
            m_worldScale = m_scale;
        }
        m_flags &= ~WorldScaleDirty;
    }
    return m_worldScale;
}

math::Quaternion Node::getWorldRotation()
{
    if (Node* up = parent())
        return up->getWorldRotation() * m_rotation;
    return m_rotation;
}

void Node::getRenderTransform(math::Matrix4& out)
{
    const math::Vector3 translation = m_translation;
    const math::Quaternion rotation = m_rotation;
    const math::Vector3 scale = m_scale;
    Node* up = parent();

    if (identityLocal) {
        setTranslation(0.0f, 0.0f, 0.0f);
        setRotation(0.0f, 0.0f, 0.0f, 1.0f);
        setScale(1.0f, 1.0f, 1.0f);
    }
    if (cancelParentScale) {
        if (up) {
            const math::Vector3& outer = up->getWorldScale();
            auto reciprocal = [](f32 v) { return v == 0.0f ? 0.0f : 1.0f / v; };
            setScale(reciprocal(outer.x), reciprocal(outer.y), reciprocal(outer.z));
        } else {
            setScale(1.0f, 1.0f, 1.0f);
        }
    }
    const bool detach = detached && up;
    if (detach) {
        RefCounted::retain(this);
        up->removeChild(up->positionOf(this));
    }

    out = getWorldTransform();

    // Everything goes back to what it was before the call, whichever flags
    // changed it: restoring each step's own saved value in turn would hand
    // the identity scale of the first step back as the node's scale.
    if (identityLocal || cancelParentScale) {
        setTranslation(translation.x, translation.y, translation.z);
        setRotation(rotation.x, rotation.y, rotation.z, rotation.w);
        setScale(scale.x, scale.y, scale.z);
    }
    if (detach) {
        up->addChild(this);
        RefCounted::release(this);
    }
}

f32 Node::getBoundingSphere(math::Vector3& centre)
{
    if (m_flags & SphereDirty) {
        m_sphereCentre = math::kZeroVector;
        m_sphereRadius = 0.0f;
        if (visuals::Visual* shown = visual()) {
            const f32 radius = shown->getBoundingSphere(m_sphereCentre);
            const math::Vector3& s = getWorldScale();
            m_sphereRadius = radius * std::max({ std::fabs(s.x), std::fabs(s.y), std::fabs(s.z) });
        }
        m_sphereCentre = getWorldTransform().transformPoint(m_sphereCentre);
        mergeChildSpheres();
        m_flags &= ~SphereDirty;
    }
    centre = m_sphereCentre;
    return m_sphereRadius;
}

void Node::mergeChildSpheres()
{
    for (const Ref& held : m_children) {
        math::Vector3 childCentre;
        const f32 childRadius = held.get<Node>()->getBoundingSphere(childCentre);
        m_sphereRadius = mergeSpheres(m_sphereCentre, m_sphereRadius, childCentre, childRadius);
    }
}

void Node::getBoundingBox(math::Vector3& min, math::Vector3& max)
{
    if (m_flags & BoxDirty) {
        m_boxMin = math::kZeroVector;
        m_boxMax = math::kZeroVector;
        if (visuals::Visual* shown = visual()) {
            math::Vector3 centre;
            math::Vector3 half;
            shown->getBoundingBox(centre, half);
            const math::Matrix4& world = getWorldTransform();
            m_boxMin = { FLT_MAX, FLT_MAX, FLT_MAX };
            m_boxMax = { -FLT_MAX, -FLT_MAX, -FLT_MAX };
            for (int corner = 0; corner < 8; ++corner) {
                const math::Vector3 offset { (corner & 1) ? half.x : -half.x, (corner & 2) ? half.y : -half.y,
                    (corner & 4) ? half.z : -half.z };
                const math::Vector3 p = world.transformPoint(centre + offset);
                m_boxMin = componentMin(m_boxMin, p);
                m_boxMax = componentMax(m_boxMax, p);
            }
        }
        mergeChildBoxes();
        m_flags &= ~BoxDirty;
    }
    min = m_boxMin;
    max = m_boxMax;
}

void Node::mergeChildBoxes()
{
    for (const Ref& held : m_children) {
        math::Vector3 childMin;
        math::Vector3 childMax;
        held.get<Node>()->getBoundingBox(childMin, childMax);
        if (isZero(childMin) && isZero(childMax))
            continue;
        if (isZero(m_boxMin) && isZero(m_boxMax)) {
            m_boxMin = childMin;
            m_boxMax = childMax;
        } else {
            m_boxMin = componentMin(m_boxMin, childMin);
            m_boxMax = componentMax(m_boxMax, childMax);
        }
    }
}

void Node::visit(NodeVisitor& visitor, u32 flag) { visitor.visitNode(this, flag); }

void Node::visitAll(NodeVisitor& visitor, u32 flag)
{
    visit(visitor, flag);
    for (u64 i = 0; i < m_children.size(); ++i)
        child(i)->visitAll(visitor, flag);
}

u32 Node::classify(const math::Frustum& frustum)
{
    switch (m_cullStrategy) {
    case CullStrategy::BoundingSphere: {
        math::Vector3 centre;
        const f32 radius = getBoundingSphere(centre);
        const math::Frustum::TestResult sphere = frustum.testSphere(centre, radius);
        if (sphere != math::Frustum::TestResult::Intersecting)
            return static_cast<u32>(sphere);
        [[fallthrough]];
    }
    case CullStrategy::BoundingBox: {
        math::Vector3 min;
        math::Vector3 max;
        getBoundingBox(min, max);
        return static_cast<u32>(frustum.testAABB(min, max));
    }
    case CullStrategy::AlwaysInside:
    case CullStrategy::AlwaysInsideSubtree:
        return NodeVisitor::Inside;
    }
    QUERN_FATAL_INVALID_ENUM("Node::CullStrategy");
}

void Node::cull(NodeVisitor& visitor, const math::Frustum& frustum)
{
    const u32 result = classify(frustum);
    if (result == NodeVisitor::Outside) {
        visitAll(visitor, NodeVisitor::Outside);
        return;
    }
    visit(visitor, result);
    const bool testChildren
        = result == NodeVisitor::Intersecting && m_cullStrategy != CullStrategy::AlwaysInsideSubtree;
    for (u64 i = 0; i < m_children.size(); ++i) {
        if (testChildren)
            child(i)->cull(visitor, frustum);
        else
            child(i)->visitAll(visitor, NodeVisitor::Inside);
    }
}

void Node::raycast(NodeVisitor& visitor, const math::Ray& ray)
{
    math::Vector3 centre;
    const f32 radius = getBoundingSphere(centre);
    const math::Vector3 offset = math::cross(ray.direction, centre - ray.origin);
    const f32 distance = offset.length() / ray.direction.length();
    if (distance > radius) {
        visit(visitor, NodeVisitor::Outside);
        for (u64 i = 0; i < m_children.size(); ++i)
            child(i)->visitAll(visitor, NodeVisitor::Outside);
        return;
    }
    visit(visitor, NodeVisitor::Intersecting);
    for (u64 i = 0; i < m_children.size(); ++i)
        child(i)->raycast(visitor, ray);
}

void Node::notify(f32 a, f32 b)
{
    notifyOwnListeners(a, b);
    if (visuals::Visual* shown = visual())
        shown->notify(a, b);
    for (u64 i = m_children.size(); i > 0; --i)
        child(i - 1)->notify(a, b);
}

void Node::describe(std::ostream& out)
{
    if (m_flags & LocalDirty) {
        m_flags &= ~LocalDirty;
        computeLocalTransform(m_local);
    }
    out << m_name << " (#" << m_id << ")\n";
    if (Node* up = parent())
        out << "Parent: " << up->m_name << " (#" << up->m_id << ")\n";
    else
        out << "Root node\n";
    out << "Translation: " << m_translation.x << ", " << m_translation.y << ", " << m_translation.z << "\n";
    out << "Rotation:    " << m_rotation.x << ", " << m_rotation.y << ", " << m_rotation.z << ", " << m_rotation.w
        << "\n";
    out << "Scale:       " << m_scale.x << ", " << m_scale.y << ", " << m_scale.z << "\n";
    out << "Transformation matrix: " << m_local << "\n";
    math::Vector3 centre;
    const f32 radius = getBoundingSphere(centre);
    out << "Bounding sphere: center = " << centre.x << ", " << centre.y << ", " << centre.z << ", radius = " << radius
        << "\n";
    math::Vector3 min;
    math::Vector3 max;
    getBoundingBox(min, max);
    out << "Bounding box: " << min.x << ", " << min.y << ", " << min.z << " --> " << max.x << ", " << max.y << ", "
        << max.z << "\n";
}

} // namespace quern::scene
