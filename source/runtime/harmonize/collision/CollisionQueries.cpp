// Rays and sphere sweeps against the collision system's Bullet world. Each
// takes the system's lock, so it never sees a step half done.

#include "harmonize/collision/AllHitsConvexResultCallback.h"
#include "harmonize/collision/BulletObjects.h"
#include "harmonize/collision/CollisionLayers.h"
#include "harmonize/collision/CollisionSystem.h"

#include <btBulletDynamicsCommon.h>

namespace harmonize {

using quern::containers::Array;
using quern::debug::MutexLock;
using quern::math::Vector3;

namespace {

constexpr f32 kRayLength = 2000.0f;
constexpr f32 kSphereCastAllRadius = 0.2f;

CollisionHit makeHit(const btCollisionObject* object, const btVector3& point, const btVector3& normal)
{
    return CollisionHit { static_cast<u32>(object->getUserIndex()), fromBullet(point), fromBullet(normal) };
}

void appendIfValid(Array& hits, const CollisionHit& hit)
{
    if (isValidHitHandle(hit.entity))
        hits.push(&hit);
}

} // namespace

AllHitsConvexResultCallback::AllHitsConvexResultCallback(int group, int mask)
    : objects(sizeof(const btCollisionObject*), alignof(const btCollisionObject*))
    , normals(sizeof(btVector3), alignof(btVector3))
    , points(sizeof(btVector3), alignof(btVector3))
{
    m_closestHitFraction = 1.0f;
    m_collisionFilterGroup = group;
    m_collisionFilterMask = mask;
}

btScalar AllHitsConvexResultCallback::addSingleResult(btCollisionWorld::LocalConvexResult& result, bool normalInWorldSpace)
{
    // The closest fraction stays at 1: Bullet drops every hit beyond it, so
    // lowering it would lose the bodies behind the first one met (a trigger
    // in front would hide what stands behind it).
    const btCollisionObject* object = result.m_hitCollisionObject;
    objects.append(object);
    const btVector3 normal = normalInWorldSpace
        ? result.m_hitNormalLocal
        : object->getWorldTransform().getBasis() * result.m_hitNormalLocal;
    normals.push(&normal);
    points.push(&result.m_hitPointLocal);
    ++hitCount;
    return m_closestHitFraction;
}

bool CollisionSystem::rayCast(const Vector3& from, const Vector3& direction, CollisionHit& hit)
{
    UntrappedWhileTesting untrapped;
    MutexLock locked(m_lock);
    if (!m_dynamicsWorld)
        return false;
    const btVector3 start = toBullet(from);
    const btVector3 end = start + toBullet(direction) * kRayLength;
    btCollisionWorld::ClosestRayResultCallback callback(start, end);
    callback.m_collisionFilterGroup = kQueryGroup;
    callback.m_collisionFilterMask = kQueryMaskAll;
    callback.m_flags = 0;
    m_dynamicsWorld->rayTest(start, end, callback);
    if (!callback.hasHit())
        return false;
    hit = makeHit(callback.m_collisionObject, callback.m_hitPointWorld, callback.m_hitNormalWorld);
    return isValidHitHandle(hit.entity);
}

bool CollisionSystem::rayCastAll(const Vector3& from, const Vector3& direction, Array& hits, f32 length)
{
    UntrappedWhileTesting untrapped;
    MutexLock locked(m_lock);
    if (!m_dynamicsWorld)
        return false;
    const btVector3 start = toBullet(from);
    const btVector3 end = start + toBullet(direction) * length;
    btCollisionWorld::AllHitsRayResultCallback callback(start, end);
    callback.m_collisionFilterGroup = kQueryGroup;
    callback.m_collisionFilterMask = kQueryMaskAll;
    m_dynamicsWorld->rayTest(start, end, callback);
    if (!callback.hasHit())
        return false;
    for (int i = 0; i < callback.m_collisionObjects.size(); ++i)
        appendIfValid(hits,
            makeHit(callback.m_collisionObjects[i], callback.m_hitPointWorld[i], callback.m_hitNormalWorld[i]));
    return true;
}

bool CollisionSystem::sphereCast(
    const Vector3& from, f32 radius, const Vector3& direction, CollisionHit& hit, f32 length)
{
    MutexLock locked(m_lock);
    if (!m_dynamicsWorld)
        return false;
    const btVector3 start = toBullet(from);
    const btVector3 end = start + toBullet(direction) * length;
    btSphereShape sphere(radius);
    btCollisionWorld::ClosestConvexResultCallback callback(start, end);
    callback.m_closestHitFraction = 1.0f;
    callback.m_collisionFilterGroup = kQueryGroup;
    callback.m_collisionFilterMask = kSphereCastMask;
    // The bodies the mask lets through, each swept as the world's sweep
    // would (same filter, same cast, same allowed penetration), without the
    // walk over every other body's bounds.
    const btTransform begin(btQuaternion::getIdentity(), start);
    const btTransform finish(btQuaternion::getIdentity(), end);
    const btScalar penetration = m_dynamicsWorld->getDispatchInfo().m_allowedCcdPenetration;
    const btVector3 reach(radius, radius, radius);
    btVector3 low = start;
    btVector3 high = start;
    low.setMin(end);
    high.setMax(end);
    low -= reach;
    high += reach;
    btCollisionObject* const* targets = m_sweepTargets.dataAs<btCollisionObject*>();
    for (u64 i = 0; i < m_sweepTargets.count(); ++i) {
        btCollisionObject* target = targets[i];
        const btBroadphaseProxy* proxy = target->getBroadphaseHandle();
        if (!callback.needsCollision(const_cast<btBroadphaseProxy*>(proxy))
            || !TestAabbAgainstAabb2(low, high, proxy->m_aabbMin, proxy->m_aabbMax))
            continue;
        btCollisionWorld::objectQuerySingle(&sphere, begin, finish, target, target->getCollisionShape(),
            target->getWorldTransform(), callback, penetration);
    }
    if (callback.m_closestHitFraction >= 1.0f)
        return false;
    hit = makeHit(callback.m_hitCollisionObject, callback.m_hitPointWorld, callback.m_hitNormalWorld);
    return isValidHitHandle(hit.entity);
}

bool CollisionSystem::sphereCastAll(const Vector3& from, f32, const Vector3& direction, Array& hits, f32 length)
{
    MutexLock locked(m_lock);
    if (!m_dynamicsWorld)
        return false;
    const btVector3 start = toBullet(from);
    const btVector3 end = start + toBullet(direction) * length;
    btSphereShape sphere(kSphereCastAllRadius);
    AllHitsConvexResultCallback callback(kQueryGroup, kQueryMaskAll);
    m_dynamicsWorld->convexSweepTest(&sphere, btTransform(btQuaternion::getIdentity(), start),
        btTransform(btQuaternion::getIdentity(), end), callback);
    if (callback.hitCount == 0)
        return false;
    const u64 before = hits.count();
    for (u64 i = 0; i < callback.hitCount; ++i)
        appendIfValid(hits,
            makeHit(callback.objects.at<const btCollisionObject*>(i), callback.points.at<btVector3>(i),
                callback.normals.at<btVector3>(i)));
    return hits.count() > before;
}

} // namespace harmonize
