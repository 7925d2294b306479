#pragma once
// Bullet's dispatcher with the game's two filters: which pairs are tested at
// all (disabled colliders never, two triggers only when one can move) and
// which contacts the solver answers (never a trigger's).

#include "quern/Types.h"

#include <BulletCollision/CollisionDispatch/btCollisionDispatcher.h>

namespace quern::entity {
class World;
}

namespace harmonize {

class CollisionDispatcher final : public btCollisionDispatcher {
public:
    explicit CollisionDispatcher(btCollisionConfiguration* configuration)
        : btCollisionDispatcher(configuration)
    {
    }

    bool needsCollision(const btCollisionObject* body0, const btCollisionObject* body1) override;
    bool needsResponse(const btCollisionObject* body0, const btCollisionObject* body1) override;

    // Null until the world starts; bodies are read through it.
    quern::entity::World* world = nullptr;
    // Tests counted since the collision system last cleared them.
    quern::u32 pairTests = 0;
    quern::u32 responseTests = 0;
};

} // namespace harmonize
