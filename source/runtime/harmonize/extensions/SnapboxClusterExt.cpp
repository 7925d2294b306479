#include "harmonize/extensions/SnapboxClusterExt.h"

#include "harmonize/statemachines/MovementStateMachine.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace harmonize {

using quern::entity::World;
using quern::math::Matrix3;
using quern::math::Vector3;

namespace {

constexpr int kSideOrder[3] = { 0, 2, 1 };
// A station's boxes pair on their own; a station that is itself a moving
// platform may hand on once more. Deeper chains are bad level data (platforms
// naming each other as stations would send the search round in circles), and
// every level multiplies the work by a station's box count.
constexpr int kMaxStationDepth = 2;

bool searchFrom(World& world, EntityHandle box, bool skipSide1, SnapPair& pair, int depth);

// The neighbour on `side` (or the box it links to) as a's partner.
bool pairWithNeighbour(World& world, const SnapPair& a, int side, bool skipSide1, SnapPair& pair)
{
    const Snapbox* neighbour = validComponentOf<Snapbox>(world, a.snapboxA->neighbours[side]);
    if (!neighbour)
        return false;
    EntityHandle b = a.snapboxA->neighbours[side];
    if (!skipSide1 && isValidEntity(world, neighbour->linkedBox))
        b = neighbour->linkedBox;
    Snapbox* snapboxB = componentOf<Snapbox>(world, b);
    Transform* transformB = componentOf<Transform>(world, b);
    if (!snapboxB || !transformB)
        return false;
    const f32 distance = (worldPositionOf(world, *a.transformA) - worldPositionOf(world, *transformB)).length();
    // Written as the acceptance so that a NaN distance never pairs.
    if (!(std::fabs(distance - a.snapboxA->neighbourDistances[side]) <= kSnapDistanceTolerance))
        return false;
    if (isHiddenPlatform(world, snapboxB->cluster) || isBoxBlocked(world, b))
        return false;
    pair = a;
    pair.boxB = b;
    pair.transformB = transformB;
    pair.snapboxB = snapboxB;
    return true;
}

// A moving platform's edge box continues on the station the platform stands
// at: a station box turned exactly as the edge box pairs on its own, and its
// partner must lie next to the edge box.
bool pairThroughStation(World& world, const SnapPair& a, SnapPair& pair, int depth)
{
    const EntityHandle platform = a.snapboxA->cluster;
    const MovingPlatform* moving = validComponentOf<MovingPlatform>(world, platform);
    const Transform* platformTransform = validComponentOf<Transform>(world, platform);
    if (!moving || !platformTransform)
        return false;
    const Transform* stationA = validComponentOf<Transform>(world, moving->stationA);
    const Transform* stationB = validComponentOf<Transform>(world, moving->stationB);
    if (!stationA || !stationB)
        return false;
    const Vector3 at = worldPositionOf(world, *platformTransform);
    const f32 toA = (worldPositionOf(world, *stationA) - at).lengthSquared();
    const f32 toB = (worldPositionOf(world, *stationB) - at).lengthSquared();
    const SnapboxCluster* station
        = componentOf<SnapboxCluster>(world, toA < toB ? moving->stationA : moving->stationB);
    if (!station)
        return false;
    const Vector3 edge = worldPositionOf(world, *a.transformA);
    for (u64 i = 0; i < boxCountOf(*station); ++i) {
        const Transform* candidate = validComponentOf<Transform>(world, station->boxes[i]);
        if (!candidate || !(candidate->rotation == a.transformA->rotation))
            continue;
        SnapPair found;
        if (!searchFrom(world, station->boxes[i], true, found, depth + 1))
            continue;
        if ((worldPositionOf(world, *found.transformB) - edge).length() <= kSnapDistanceTolerance) {
            pair = found;
            return true;
        }
    }
    return false;
}

bool searchFrom(World& world, EntityHandle box, bool skipSide1, SnapPair& pair, int depth)
{
    SnapPair a;
    a.boxA = box;
    a.snapboxA = validComponentOf<Snapbox>(world, box);
    a.transformA = validComponentOf<Transform>(world, box);
    if (!a.snapboxA || !a.transformA || depth > kMaxStationDepth || isBoxBlocked(world, box))
        return false;
    for (int side : kSideOrder) {
        if (side == 1 && skipSide1)
            continue;
        if (isValidEntity(world, a.snapboxA->neighbours[side])) {
            if (pairWithNeighbour(world, a, side, skipSide1, pair))
                return true;
        } else if (a.snapboxA->boxKind == kStationEdgeBoxKind && pairThroughStation(world, a, pair, depth)) {
            return true;
        }
    }
    return false;
}

f32 distanceSquared(Vec2f a, Vec2f b) { return dot(a - b, a - b); }

} // namespace

bool searchSnapPair(World& world, EntityHandle box, bool skipSide1, SnapPair& pair)
{
    return searchFrom(world, box, skipSide1, pair, 0);
}

bool findSnapPair(EntityHandle cluster, World& world, const PlayerView& player, SnapPair& pair)
{
    const SnapboxCluster* record = validComponentOf<SnapboxCluster>(world, cluster);
    if (!record || !player.transform)
        return false;
    struct Candidate {
        EntityHandle box;
        f32 distance;
    };
    Candidate candidates[sizeof(SnapboxCluster::boxes) / sizeof(EntityHandle)];
    const u64 count = boxCountOf(*record);
    const Vector3 at = worldPositionOf(world, *player.transform);
    for (u64 i = 0; i < count; ++i) {
        const Transform* transform = validComponentOf<Transform>(world, record->boxes[i]);
        f32 distance = transform ? (worldPositionOf(world, *transform) - at).lengthSquared() : FLT_MAX;
        // A NaN would break the ordering the sort relies on.
        if (!(distance <= FLT_MAX))
            distance = FLT_MAX;
        candidates[i] = { record->boxes[i], distance };
    }
    std::stable_sort(candidates, candidates + count,
        [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
    for (u64 i = 0; i < count; ++i)
        if (searchSnapPair(world, candidates[i].box, false, pair))
            return true;
    return false;
}

void alignToPair(World& world, const SnapPair& pair, const PlayerView& player)
{
    const Matrix3 a = worldRotationOf(world, *pair.transformA).toMatrix3();
    const Matrix3 b = worldRotationOf(world, *pair.transformB).toMatrix3();
    const Vec2f xA { a.m[0], a.m[1] };
    const Vec2f yA { a.m[3], a.m[4] };
    const Vec2f xB { b.m[0], b.m[1] };
    const Vec2f yB { b.m[3], b.m[4] };
    const Vec2f p0 = planeOf(worldPositionOf(world, *pair.transformA)) - xA;
    const Vec2f p2 = planeOf(worldPositionOf(world, *pair.transformB)) - xB;

    // Parallel end axes make a straight segment.
    const f32 k = xA.y * xB.x - xA.x * xB.y;
    Vec2f p1 = (p0 + p2) * 0.5f;
    if (std::fabs(k) >= 0.01f)
        p1 = p2 + ((xB.x * (p2.y - p0.y) - xB.y * (p2.x - p0.x)) / k) * xB;

    const Vec2f s = planeOf(worldPositionOf(world, *player.transform));
    const CurvePoint nearest = closestPointOnQuadratic(p0, p1, p2, s);
    const f32 t = nearest.t;
    const Vec2f tangent = normalize(2.0f * ((p1 - p0) * (1.0f - t) + (p2 - p1) * t));

    // Up is the side of the tangent the two boxes' up axes lean to.
    const Vec2f left = leftOf(tangent);
    const Vec2f right = rightOf(tangent);
    Vec2f up = right;
    Vec2f along = -tangent;
    if (dot(left, yB) + dot(left, yA) > dot(right, yB) + dot(right, yA)) {
        up = left;
        along = tangent;
    }

    // Beyond either end the path runs on straight.
    Vec2f snap = nearest.point;
    if (t < 0.0001f || t > 0.9999f)
        snap = nearest.point + proj(s - nearest.point, along);

    PlayerMovement& movement = *player.movement;
    const Vec2f path[8] = { p0, yA, xA, p2, yB, xB, p1, along };
    std::copy(path, path + 8, movement.snapPath);
    movement.clusterUp = up;
    movement.snapPosition = snap;
    movement.snapTangent = tangent;
    movement.snapBoxUp = yA;
    movement.snapBoxA = pair.boxA;
    movement.snapBoxB = pair.boxB;
    movement.snapParameter = t;
}

bool alignToCluster(World& world, const PlayerView& player)
{
    PlayerMovement& movement = *player.movement;
    SnapPair pair;
    if (findSnapPair(movement.cluster, world, player, pair)) {
        alignToPair(world, pair, player);
        return true;
    }
    QUERN_LOG(2) << "Couldn't find snapbox pair" << std::endl;
    clearClusterRecord(movement);
    fall(movement.movementState);
    return false;
}

Vec2f pointOnQuadratic(Vec2f p0, Vec2f p1, Vec2f p2, f32 t)
{
    const f32 u = 1.0f - t;
    return p0 * (u * u) + p1 * (2.0f * t * u) + p2 * (t * t);
}

CurvePoint closestPointOnQuadratic(Vec2f p0, Vec2f p1, Vec2f p2, Vec2f s)
{
    constexpr f32 kSampleStep = 0.022222223f;
    // Up to 46 samples from t by `step`: best is the nearest so far (taken
    // only on a strict improvement), previous the best before it. The refining
    // walk ends once it has stepped past the best sample.
    f32 best = 0.0f;
    f32 previous = 0.0f;
    const auto walk = [&](f32 t, f32 step, bool endPastBest) {
        f32 lowest = FLT_MAX;
        for (int i = 0; i < 46; ++i) {
            const f32 d = distanceSquared(pointOnQuadratic(p0, p1, p2, t), s);
            if (d < lowest) {
                lowest = d;
                previous = best;
                best = t;
            }
            t += step;
            if (endPastBest && t > best)
                return;
        }
    };
    walk(0.0f, kSampleStep, false);
    if (previous == best)
        return { pointOnQuadratic(p0, p1, p2, best), best };
    walk(previous, (best - previous) * kSampleStep, true);
    const f32 result = (best + previous) * 0.5f;
    return { pointOnQuadratic(p0, p1, p2, result), result };
}

} // namespace harmonize
