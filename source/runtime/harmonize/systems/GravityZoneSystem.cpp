#include "harmonize/systems/GravityZoneSystem.h"

#include "harmonize/extensions/PlayerView.h"

#include "quern/entity/World.h"

namespace harmonize {

void GravityZoneSystem::worldStarted(quern::entity::World& world, quern::memory::Allocator*)
{
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getGeneration(i) == 0 || world.getState(i) == quern::entity::EntityState::Free
            || !world.getComponentMask(i).containsAll(kGravityZoneMask))
            continue;
        const auto& transform = *static_cast<const Transform*>(world.getComponent(i, Transform::kType));
        // Rotation alone: a zone scaled or mirrored by its parents still pulls
        // along its turned axis.
        const Vector3 down = worldRotationOf(world, transform).toMatrix3() * Vector3 { 0.0f, -1.0f, 0.0f };
        static_cast<GravityZone*>(world.getComponent(i, GravityZone::kType))->direction = Vec2f { down.x, down.y };
    }
}

} // namespace harmonize
