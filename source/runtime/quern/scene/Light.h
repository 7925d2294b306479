#pragma once
// A scene node that lights: the parameters from which shadows build a light
// camera. Culling always accepts a light (its children are still tested).

#include "quern/scene/Node.h"

namespace quern::scene {

class Camera;

class Light : public Node {
public:
    // Kind whose shadow camera is orthographic; every other kind is perspective.
    static constexpr u32 kOrthographicKind = 2;

    Light() = default;

    void cull(NodeVisitor& visitor, const math::Frustum& frustum) override;
    void visit(NodeVisitor& visitor, u32 flag) override;
    Node* clone() const override;

    // Places and shapes `camera` as this light's shadow camera.
    void configureCamera(Camera& camera);

    void setTarget(Node* target) { m_target.set(target); }
    Node* target() const { return m_target.getAs<Node>(); }

    u32 kind = 0;
    // Stored for the users of lights.
    f32 colour[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
    f32 vector[4] = { 0.0f, 0.0f, 0.0f, 1.0f };
    f32 secondColour[4] = { 1.0f, 1.0f, 1.0f, 1.0f };
    u32 word = 0;
    // Half the opening of a perspective shadow camera, in radians.
    f32 angle = 3.1415927f;
    u8 enabled = 1;
    f32 width = 1.0f;
    f32 height = 1.0f;
    // The shadow camera's far plane.
    f32 range = 1000.0f;

protected:
    Light(const Light& other);

private:
    NodeLink m_target;
};

} // namespace quern::scene
