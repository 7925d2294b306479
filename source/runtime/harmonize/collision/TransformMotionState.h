#pragma once
// The link between a body and its entity's Transform: Bullet reads the body's
// placement from the entity's world matrix (scale divided out, the shape's
// centre offset added) and writes back only the entity's world position.

#include "harmonize/components/Transform.h"

#include <LinearMath/btMotionState.h>
#include <LinearMath/btTransform.h>

namespace harmonize {

class TransformMotionState final : public btMotionState {
public:
    // `inverseOffset` undoes the shape's centre offset: a pure translation by
    // minus the offset, already in world orientation and scale.
    TransformMotionState(Transform& transform, quern::entity::World& world, const btTransform& inverseOffset)
        : m_transform(&transform)
        , m_world(&world)
        , m_inverseOffset(inverseOffset)
    {
    }

    void getWorldTransform(btTransform& worldTransform) const override;
    void setWorldTransform(const btTransform& worldTransform) override;

private:
    Transform* m_transform;
    quern::entity::World* m_world;
    btTransform m_inverseOffset;
};

// The component-wise product of the scales of the transform and all its ancestors.
quern::math::Vector3 accumulatedScale(const Transform& transform, quern::entity::World& world);

} // namespace harmonize
