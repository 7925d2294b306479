#pragma once
// The walking surface of a platform cluster. A cluster is built from snap
// boxes; the player follows a smooth path that runs along a pair of adjacent
// boxes, a quadratic curve from box A's corner point to box B's, bending
// around corners so that the player's up direction follows the surface.
// These rules find the pair under the player, project the player onto its
// curve and store the result in the player's snap fields. The cluster's
// landing wobble and the debug drawing of the path live here too.
#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/PlayerView.h"

namespace harmonize {

class CoroutineSystem;
class GizmoLineSystem;

struct SnapPair {
    EntityHandle boxA;
    Transform* transformA = nullptr;
    Snapbox* snapboxA = nullptr;
    EntityHandle boxB;
    Transform* transformB = nullptr;
    Snapbox* snapboxB = nullptr;
};

// How far (3D) a neighbour may lie from its expected distance, and a station
// box's partner from the platform's edge box, and still pair.
inline constexpr f32 kSnapDistanceTolerance = 3.0f;
// An edge box of a moving platform: with no neighbour on a side, its path
// continues on the station the platform stands at.
inline constexpr i32 kStationEdgeBoxKind = 4;

// The pair from `box`: box itself must not be blocked; its sides are tried in
// the order 0, 2, 1 (side 1 only without `skipSide1`), each neighbour (or,
// without `skipSide1`, the box the neighbour links to) pairing when it lies
// within the tolerance of the side's expected distance, its cluster is not a
// hidden platform and it is not blocked. A moving platform's edge box without
// a neighbour continues on the nearer station's boxes of the same rotation.
bool searchSnapPair(quern::entity::World& world, EntityHandle box, bool skipSide1, SnapPair& pair);

// The pair of `cluster` for the player: the cluster's boxes are searched
// nearest to the player first, and the first pair found is the result.
bool findSnapPair(EntityHandle cluster, quern::entity::World& world, const PlayerView& player, SnapPair& pair);

// Builds the pair's curve, projects the player onto it and stores the path,
// the up direction, the snap position, the tangent, the boxes and the curve
// parameter in the player's PlayerMovement.
void alignToPair(quern::entity::World& world, const SnapPair& pair, const PlayerView& player);

// Aligns the player to the pair of the cluster it stands on. When the cluster
// has no pair (a blocker moved over its boxes, say) the player lets go of the
// cluster and falls, and the result is false: the caller must not settle a
// landing on it.
bool alignToCluster(quern::entity::World& world, const PlayerView& player);

struct CurvePoint {
    Vec2f point;
    f32 t;
};

// (1 - t)^2 p0 + 2t(1 - t) p1 + t^2 p2.
Vec2f pointOnQuadratic(Vec2f p0, Vec2f p1, Vec2f p2, f32 t);

// The point of the quadratic curve (p0, p1, p2) nearest to `s`, found on 46
// even samples of t and resolved to the middle of the two best samples. Level
// geometry is laid out against exactly this answer, so it stays as coarse as
// it is.
CurvePoint closestPointOnQuadratic(Vec2f p0, Vec2f p1, Vec2f p2, Vec2f s);

// The short wobble of a cluster the player lands on: its wobble target
// swings away from the player for 0.6 s and comes back to where it was. A
// cluster already wobbling refuses a second one.
void startClusterWobble(CoroutineSystem& coroutines, EntityHandle cluster, EntityHandle player);

// The player's snap curve, the pair's box axes and the player's own axes as
// debug lines.
void drawSnapGizmos(GizmoLineSystem& lines, quern::entity::World& world, const PlayerView& player);

} // namespace harmonize
