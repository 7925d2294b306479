#pragma once
// Bullet's convex sweeps report only the closest hit; this collector keeps
// every hit in the order Bullet finds them, its closest fraction left at 1 so
// that Bullet passes on hits behind the nearest too.

#include "quern/containers/Array.h"

#include <BulletCollision/CollisionDispatch/btCollisionWorld.h>

namespace harmonize {

class AllHitsConvexResultCallback final : public btCollisionWorld::ConvexResultCallback {
public:
    AllHitsConvexResultCallback(int group, int mask);

    btScalar addSingleResult(btCollisionWorld::LocalConvexResult& result, bool normalInWorldSpace) override;

    quern::containers::Array objects; // const btCollisionObject*
    quern::containers::Array normals; // btVector3, world space
    quern::containers::Array points; // btVector3, world space
    quern::u64 hitCount = 0;
};

} // namespace harmonize
