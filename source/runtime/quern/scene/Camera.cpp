#include "quern/scene/Camera.h"

#include "quern/scene/NodeVisitor.h"

#include <ostream>

namespace quern::scene {

Camera::Camera() { m_flags |= LocalDirty | ProjectionDirty; }

Camera::Camera(const Camera& other)
    : Node(other)
    , fieldOfView(other.fieldOfView)
    , nearPlane(other.nearPlane)
    , farPlane(other.farPlane)
    , width(other.width)
    , height(other.height)
    , orthographic(other.orthographic)
    , zeroToOneDepth(other.zeroToOneDepth)
    , m_view(other.m_view)
    , m_projection(other.m_projection)
    , m_viewDirection(other.m_viewDirection)
{
    m_lookAtTarget.set(other.m_lookAtTarget.get());
}

Node* Camera::clone() const
{
    Camera* copy = new Camera(*this);
    copy->cloneChildrenOf(*this);
    return copy;
}

void Camera::visit(NodeVisitor& visitor, u32 flag) { visitor.visitCamera(this, flag); }

math::Vector3 Camera::worldPosition()
{
    // The position does not depend on the camera's own rotation: taking it
    // through the parent keeps a look-at refresh from reading the world
    // transform it is in the middle of rebuilding.
    if (Node* up = parent())
        return up->getWorldTransform().transformPoint(translation());
    return translation();
}

void Camera::lookAt(const math::Vector3& point)
{
    const math::Vector3 eye = worldPosition();
    if ((point - eye).lengthSquared() <= 1e-5f)
        return;
    math::Matrix4 orientation = math::Matrix4::lookAt(eye, point);
    orientation.invertLinear();
    const math::Quaternion q = math::Quaternion::fromMatrix4(orientation);
    setRotation(q.x, q.y, q.z, q.w);
}

void Camera::computeLocalTransform(math::Matrix4& out)
{
    if (Node* target = lookAtTarget()) {
        const math::Matrix4& targetWorld = target->getWorldTransform();
        lookAt({ targetWorld.m[12], targetWorld.m[13], targetWorld.m[14] });
    }
    Node::computeLocalTransform(out);
    // Turning to the target marks the local transform again; it is current now.
    if (&out == &m_local)
        m_flags &= ~LocalDirty;
    computeViewMatrix(m_view);
}

void Camera::computeViewMatrix(math::Matrix4& out)
{
    const math::Matrix4& world = getWorldTransform();
    m_viewDirection = -math::Vector3(world.m[8], world.m[9], world.m[10]).normalized();
    out = world.orthonormalInverse();
}

void Camera::computeProjection(math::Matrix4& out)
{
    const bool minusOneToOne = !zeroToOneDepth;
    if (orthographic)
        out = math::Matrix4::orthographic(
            -width * 0.5f, height * 0.5f, width * 0.5f, -height * 0.5f, nearPlane, farPlane, minusOneToOne);
    else
        out = math::Matrix4::perspective(fieldOfView, width / height, nearPlane, farPlane, minusOneToOne);
}

void Camera::refresh()
{
    if ((m_flags & (LocalDirty | WorldDirty)) || lookAtTarget()) {
        m_flags &= ~LocalDirty;
        computeLocalTransform(m_local);
    }
    if (m_flags & ProjectionDirty) {
        computeProjection(m_projection);
        m_flags &= ~ProjectionDirty;
    }
}

const math::Matrix4& Camera::getViewMatrix()
{
    if ((m_flags & (LocalDirty | WorldDirty)) || lookAtTarget()) {
        m_flags &= ~LocalDirty;
        computeLocalTransform(m_local);
    }
    return m_view;
}

void Camera::describe(std::ostream& out)
{
    Node::describe(out);
    out << "View matrix: " << getViewMatrix() << "\n";
}

} // namespace quern::scene
