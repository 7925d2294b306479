#pragma once
// Spawning prefabs into a level: effects, pickups, missiles and the rest are
// clones of prefab subtrees placed at a reference transform.
#include "harmonize/components/Components.h"

namespace harmonize {

// Clones the prefab's subtree with no parent and places the clone at the
// reference's world position, turned so that its up axis (local Y) is the
// reference's world up axis; the turn about that axis is not matched. Null
// when the clone fails or has no Transform.
Transform* instantiatePrefabAt(EntityHandle prefab, const Transform& reference, quern::entity::World& world);

// The conjugate divided by the squared norm; the conjugate itself for a zero
// quaternion.
quern::math::Quaternion inverseOf(const quern::math::Quaternion& q);

} // namespace harmonize
