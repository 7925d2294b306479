#pragma once
// The player on platform clusters: attaching to the cluster it lands on,
// following the snap path from cluster to cluster, riding a cluster that
// moves (the carrier), and being crushed between two clusters when one of
// them is a moving platform.
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

struct AppContext;

// Contact kinds of onPlayerContact.
inline constexpr int kContactBegins = 1;
inline constexpr int kContactEnds = 2;

// The contact rule for the player touching or leaving another entity: the
// trigger it touches, the wobble of a cluster it lands on, the crush, and the
// landing itself.
void onPlayerContact(quern::entity::World& world, AppContext& context, const PairEvent& pair, int kind);

// The cluster-follow stage of the player tick.
void followCluster(quern::entity::World& world, const PlayerView& player);

// The carrier rule of the grounded velocity stage: the velocity a moving
// cluster gives the player, then the alignment and body correction on it.
void applyCarrier(quern::entity::World& world, const PlayerView& player, f32 step);

// Holds the body on the snap position, turned to the cluster's up direction,
// with the body model at its height over the surface.
void correctBodyOnCluster(quern::entity::World& world, const PlayerView& player);

// Remembers the cluster's pose at the end of the tick, for the next tick's
// carrier rule.
void recordCarrier(quern::entity::World& world, PlayerMovement& movement);

} // namespace harmonize
