#include "harmonize/events/FindPair.h"
#include "harmonize/extensions/ContactRules.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/extensions/RaceLook.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/entity/World.h"
#include "quern/platform/AssertDebug.h"

namespace harmonize {
namespace {

using quern::entity::World;
using quern::math::Vector3;

// The resume points of the re-arm.
constexpr i32 kDisarm = 0;
constexpr i32 kRearm = 33;
constexpr f32 kDisarmedTime = 0.1f; // seconds

// The target portal by handle rather than by its record's address: the
// coroutine outlives this tick, and quick saves copy it byte for byte.
struct RearmLocals {
    EntityHandle target;
};

bool runRearm(void*, Coroutine& coroutine, World& world, AppContext&)
{
    const RearmLocals& locals = coroutine.localsAs<RearmLocals>();
    BeamPortal* target = componentOf<BeamPortal>(world, locals.target);
    if (!target)
        return endCoroutine(coroutine);
    switch (coroutine.resumePoint) {
    case kDisarm:
        // The player arrives inside the target: armed, it would beam the
        // player straight back.
        target->armed = 0;
        coroutine.resumePoint = kRearm;
        coroutine.wait = kDisarmedTime;
        return true;
    case kRearm:
        target->armed = 1;
        BeamPortal::spawnBeamEffect(locals.target, world);
        return endCoroutine(coroutine);
    default:
        return endCoroutine(coroutine);
    }
}

} // namespace

void BeamPortal::spawnBeamEffect(EntityHandle portal, World& world)
{
    const BeamPortal* record = componentOf<BeamPortal>(world, portal);
    if (!record || !isSomeEntity(record->effectPrefab)) {
        QUERN_ASSERT(quern::debug::kAssertWarning, false, "Missing beam effect");
        return;
    }
    const Transform* at = componentOf<Transform>(world, portal);
    instantiatePrefabAt(record->effectPrefab, at ? *at : Transform {}, world);
}

void onBeamPortalEnter(const PairEvent& pair, World& world, AppContext& context)
{
    u32 portalHandle = 0;
    u32 playerHandle = 0;
    if (!orderPair<BeamPortal, PlayerMovement>(world, pair, portalHandle, playerHandle))
        return;
    const EntityHandle portal { portalHandle };
    if (componentOf<BeamPortal>(world, portal)->armed == 0)
        return;
    // Level data names the target by index; a target that is no portal with
    // a place to arrive at beams nobody anywhere.
    const EntityHandle target = currentHandleOf(world, componentOf<BeamPortal>(world, portal)->target);
    const BeamPortal* targetPortal = componentOf<BeamPortal>(world, target);
    const Transform* targetTransform = componentOf<Transform>(world, target);
    Transform* playerTransform = componentOf<Transform>(world, EntityHandle { playerHandle });
    if (!targetPortal || !targetTransform || !playerTransform)
        return;

    BeamPortal::spawnBeamEffect(portal, world);
    if (context.sound)
        context.sound->playSound(worldTextKey(world, "FX_Beam"));
    const Vector3 arrival = worldPositionOf(world, *targetTransform);
    playerTransform->position
        = Vector3 { arrival.x + targetPortal->exitOffset.x, arrival.y + targetPortal->exitOffset.y, 0.0f };
    if (context.coroutine)
        context.coroutine->start(&runRearm, nullptr, RearmLocals { target });
}

} // namespace harmonize
