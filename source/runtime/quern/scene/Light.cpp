#include "quern/scene/Light.h"

#include "quern/scene/Camera.h"
#include "quern/scene/NodeVisitor.h"

#include <algorithm>

namespace quern::scene {

Light::Light(const Light& other)
    : Node(other)
    , kind(other.kind)
    , word(other.word)
    , angle(other.angle)
    , enabled(other.enabled)
    , width(other.width)
    , height(other.height)
    , range(other.range)
{
    std::copy(other.colour, other.colour + 4, colour);
    std::copy(other.vector, other.vector + 4, vector);
    std::copy(other.secondColour, other.secondColour + 4, secondColour);
    m_target.set(other.m_target.get());
}

Node* Light::clone() const
{
    Light* copy = new Light(*this);
    copy->cloneChildrenOf(*this);
    return copy;
}

void Light::visit(NodeVisitor& visitor, u32 flag) { visitor.visitLight(this, flag); }

void Light::cull(NodeVisitor& visitor, const math::Frustum& frustum)
{
    visit(visitor, NodeVisitor::Inside);
    for (u64 i = 0; i < childCount(); ++i)
        child(i)->cull(visitor, frustum);
}

void Light::configureCamera(Camera& camera)
{
    const math::Matrix4& world = getWorldTransform();
    camera.setTranslation(world.m[12], world.m[13], world.m[14]);
    const math::Quaternion turn = getWorldRotation();
    camera.setRotation(turn.x, turn.y, turn.z, turn.w);
    if (kind == kOrthographicKind) {
        camera.orthographic = 1;
    } else {
        camera.orthographic = 0;
        camera.fieldOfView = 2.0f * angle;
    }
    camera.width = width;
    camera.height = height;
    camera.farPlane = range;
    camera.markProjectionDirty();
}

} // namespace quern::scene
