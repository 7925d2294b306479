#pragma once
// The player as its rules see it: the entity and its six player components,
// and the small tests on clusters and snap boxes that every player rule
// shares. The player stands on platform clusters (entities with a
// SnapboxCluster); the cluster record in its PlayerMovement says which one.
#include "harmonize/components/Components.h"

#include "quern/entity/World.h"

namespace harmonize {

struct PlayerView {
    EntityHandle entity;
    Transform* transform = nullptr;
    PlayerState* state = nullptr;
    PlayerMovement* movement = nullptr;
    RigidBody* body = nullptr;
    Race* race = nullptr;
    Collider* collider = nullptr;
};

// The view of slot `index` with its current generation (the slot's mask is
// not checked).
PlayerView playerViewAt(quern::entity::World& world, quern::u64 index);
// The view of `player` when it names a slot of the world with every component
// of the player mask; false otherwise.
bool findPlayerView(quern::entity::World& world, EntityHandle player, PlayerView& view);

// The handle of slot `index` with the slot's current generation.
inline EntityHandle entityAt(const quern::entity::World& world, quern::u64 index)
{
    return EntityHandle::make(static_cast<quern::u16>(index), world.getGeneration(index));
}
// The present owner of the slot a handle names, whatever generation it was
// taken with (level data names entities by slot; a contact may name an older
// generation); 0 for a slot the world does not have.
inline EntityHandle currentHandleOf(const quern::entity::World& world, EntityHandle named)
{
    return named.index() < world.getSlotCount() ? entityAt(world, named.index()) : EntityHandle {};
}

// The record of `Record` on the entity when the handle names a slot of the
// world whose component mask holds the type (generation and enabled bit are
// not looked at); null otherwise.
template <class Record> Record* componentOf(quern::entity::World& world, EntityHandle entity)
{
    if (entity.index() >= world.getSlotCount() || !world.getComponentMask(entity.index()).test(Record::kType))
        return nullptr;
    return static_cast<Record*>(world.getComponent(entity.index(), Record::kType));
}
// The same for a handle that must name the slot with its current generation:
// null for a handle that names nothing or an entity since destroyed.
template <class Record> Record* validComponentOf(quern::entity::World& world, EntityHandle entity)
{
    return isValidEntity(world, entity) ? componentOf<Record>(world, entity) : nullptr;
}
// The same, only when the type's enabled bit is set too.
template <class Record> Record* enabledComponentOf(quern::entity::World& world, EntityHandle entity)
{
    Record* record = componentOf<Record>(world, entity);
    return record && world.getEnabledMask(entity.index()).test(Record::kType) ? record : nullptr;
}

// The boxes a cluster record holds: level data may claim more than its array
// has room for, or fewer than none.
inline quern::u64 boxCountOf(const SnapboxCluster& cluster)
{
    constexpr quern::i32 kRoom = sizeof(SnapboxCluster::boxes) / sizeof(EntityHandle);
    return static_cast<quern::u64>(cluster.boxCount < 0 ? 0 : (cluster.boxCount > kRoom ? kRoom : cluster.boxCount));
}

// The entity's slot is in the world, its handle names some entity, and its
// component mask holds all of `mask` (the generation is not compared).
bool hasComponents(quern::entity::World& world, EntityHandle entity, const ComponentMask& mask);

// Forgets the cluster the player stands on and every snap result.
void clearClusterRecord(PlayerMovement& movement);

// A hidden platform: an entity with the components of a snap-box cluster
// platform {Collider, Transform, Race, Platform, SnapboxCluster} whose
// Collider is a trigger.
bool isHiddenPlatform(quern::entity::World& world, EntityHandle entity);

// The cluster handle names an entity, the record holds boxes, and the cluster
// is not a hidden platform.
bool isStandingOnCluster(quern::entity::World& world, const PlayerMovement& movement);

// The up direction of the ground under the player: the cluster's while it
// stands on one, else straight up.
Vec2f groundUpOf(quern::entity::World& world, const PlayerMovement& movement);

// The turn about +Z that takes +Y to the plane direction `up`: the facing
// rule of everything that turns in the plane of play.
quern::math::Quaternion planeTurnUpTo(Vec2f up);
// Turns the player's body so that its Y axis points along the plane direction
// `up` in the world, whatever its parents' turn.
void turnBodyUpTo(quern::entity::World& world, const PlayerView& player, Vec2f up);

// A box is blocked while its blocker (a valid entity whose Collider box holds
// the box's world position, edges included) covers it, unless the blocker is
// a hidden platform.
bool isBoxBlocked(quern::entity::World& world, EntityHandle box);

// The world position and the world up axis (the Y column of the world
// rotation) of a transform.
quern::math::Vector3 worldPositionOf(quern::entity::World& world, const Transform& transform);
quern::math::Vector3 worldUpAxisOf(quern::entity::World& world, const Transform& transform);
// The world position of the entity's transform; false, with `position` left
// alone, when the entity is not present or has no Transform.
bool worldPositionOf(quern::entity::World& world, EntityHandle entity, quern::math::Vector3& position);
quern::math::Quaternion worldRotationOf(quern::entity::World& world, const Transform& transform);
// The world rotation of the transform's parent chain; the identity for a root.
quern::math::Quaternion parentWorldRotationOf(quern::entity::World& world, const Transform& transform);

} // namespace harmonize
