#pragma once
// A scene node that sees: its view matrix is the inverse of its world
// transform, its projection is perspective or orthographic, and it can keep
// facing another node. A new camera has its local transform and projection
// marked dirty.

#include "quern/scene/Node.h"

namespace quern::scene {

class Camera : public Node {
public:
    // Two float steps below the float nearest pi/3.
    static constexpr f32 kDefaultFieldOfView = 1.0471973f;

    Camera();

    void visit(NodeVisitor& visitor, u32 flag) override;
    Node* clone() const override;
    // The node's description, then "View matrix: " and the (refreshed) view.
    void describe(std::ostream& out) override;
    // The node's local transform, turned to the look-at target first when
    // there is one; ends by recomputing the view matrix.
    void computeLocalTransform(math::Matrix4& out) override;
    // View direction and out = inverse of the world transform.
    virtual void computeViewMatrix(math::Matrix4& out);
    virtual void computeProjection(math::Matrix4& out);

    // Brings the view (transform dirty, or a look-at target) and the
    // projection (its dirty bit) up to date: what every user does first.
    void refresh();
    // The view matrix, refreshed when the transform is dirty or a target is set.
    const math::Matrix4& getViewMatrix();
    const math::Matrix4& viewMatrix() const { return m_view; }
    const math::Matrix4& projectionMatrix() const { return m_projection; }
    // Turns the camera to face the point; nothing within 1e-5 (squared) of it.
    void lookAt(const math::Vector3& point);
    void setLookAtTarget(Node* target) { m_lookAtTarget.set(target); }
    Node* lookAtTarget() const { return m_lookAtTarget.getAs<Node>(); }
    // The translation of the world transform.
    math::Vector3 worldPosition();
    const math::Vector3& viewDirection() const { return m_viewDirection; }
    void markProjectionDirty() { m_flags |= ProjectionDirty; }

    f32 fieldOfView = kDefaultFieldOfView;
    f32 nearPlane = 1.0f;
    f32 farPlane = 100000.0f;
    // Orthographic extents; for a perspective camera the aspect ratio.
    f32 width = 4.0f;
    f32 height = 3.0f;
    u8 orthographic = 0;
    // Depth maps to 0..1 when set, to -1..1 when clear.
    u8 zeroToOneDepth = 0;

protected:
    Camera(const Camera& other);

private:
    NodeLink m_lookAtTarget;
    math::Matrix4 m_view;
    math::Matrix4 m_projection;
    math::Vector3 m_viewDirection;
};

} // namespace quern::scene
