#include "harmonize/extensions/ContactRules.h"

#include "quern/entity/World.h"

namespace harmonize {

using quern::entity::World;

bool matchPlayerAndGravityZone(const PairEvent& pair, World& world, PlayerView& player, ZoneView& zone)
{
    EntityHandle playerEntity;
    EntityHandle zoneEntity;
    if (!matchPlayerAnd(pair, world, kGravityZoneMask, playerEntity, zoneEntity))
        return false;
    player = playerViewAt(world, playerEntity.index());
    zone.entity = zoneEntity;
    zone.transform = componentOf<Transform>(world, zoneEntity);
    zone.collider = componentOf<Collider>(world, zoneEntity);
    zone.zone = componentOf<GravityZone>(world, zoneEntity);
    return true;
}

void onGravityZoneEnter(const PairEvent& pair, World& world)
{
    PlayerView player;
    ZoneView zone;
    if (!matchPlayerAndGravityZone(pair, world, player, zone))
        return;
    GravityZone& rule = *zone.zone;
    PlayerMovement& movement = *player.movement;
    if (rule.direction.x == movement.gravityDirection.x && rule.direction.y == movement.gravityDirection.y
        && rule.gravityScale == movement.gravityScale)
        return;
    // The scale saved is the player's own, not whatever an enclosing zone
    // set: leaving always returns to the player's normal weight.
    rule.savedDirection = movement.gravityDirection;
    rule.savedScale = movement.baseGravity;
    movement.gravityDirection = rule.direction;
    movement.gravityScale = rule.gravityScale;
}

void onGravityZoneExit(const PairEvent& pair, World& world)
{
    PlayerView player;
    ZoneView zone;
    if (!matchPlayerAndGravityZone(pair, world, player, zone))
        return;
    const GravityZone& rule = *zone.zone;
    PlayerMovement& movement = *player.movement;
    // A zone that saved nothing (entered with equal settings) restores nothing.
    if (rule.savedDirection.x != 0.0f || rule.savedDirection.y != 0.0f)
        movement.gravityDirection = rule.savedDirection;
    if (rule.savedScale != 0.0f)
        movement.gravityScale = rule.savedScale;
}

} // namespace harmonize
