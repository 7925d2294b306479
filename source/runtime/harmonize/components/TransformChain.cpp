#include "harmonize/components/TransformChain.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

namespace harmonize {

using quern::i64;
using quern::u64;
using quern::entity::EntityHandle;
using quern::entity::World;
using quern::math::Matrix3;
using quern::math::Matrix4;
using quern::math::Quaternion;
using quern::math::Vector3;

Transform& transformAt(World& world, u64 index) { return transformRecord(world, index); }

u64 indexOfTransform(World& world, const Transform& transform)
{
    const quern::u8* base = world.store + world.componentOffsets[Transform::kType];
    return static_cast<u64>(reinterpret_cast<const quern::u8*>(&transform) - base) / sizeof(Transform);
}

EntityHandle entityOfTransform(World& world, const Transform& transform)
{
    const u64 index = indexOfTransform(world, transform);
    const quern::u16 generation = index < world.getSlotCount() ? world.getGeneration(index) : 0;
    return EntityHandle::make(static_cast<quern::u16>(index), generation);
}

i64 parentIndexOf(const Transform& transform, const World& world)
{
    return linkedSlot(transform.parent, world.getSlotCount());
}

void failTransformCycle(World& world, const Transform& start)
{
    const EntityHandle entity = entityOfTransform(world, start);
    QUERN_FATAL(quern::strings::format<512>("Transform parents of entity %u \"%s\" form a cycle",
        static_cast<unsigned>(entity.index()), world.getEntityName(entity)));
}

Matrix4 localMatrix(const Transform& transform, bool withScale)
{
    Matrix4 m;
    storeAffine(localAffine(transform, withScale), m);
    return m;
}

void Transform::accumulateWorldMatrix(const Transform& transform, Matrix4& m, EntityHandle ancestor, World& world)
{
    Matrix4 chain;
    storeAffine(chainAffine(world, transform, ancestor), chain);
    m.multiplyAffine(chain);
}

Vector3 Transform::localToWorld(const Transform& transform, const Vector3& point, World& world)
{
    Matrix4 m;
    storeAffine(chainAffine(world, transform, EntityHandle {}), m);
    return m.transformPoint(point);
}

void Transform::accumulateWorldRotation(const Transform& transform, Quaternion& q, EntityHandle ancestor, World& world)
{
    // With the engine's quaternion matrix the world rotation is the rotation
    // of the world matrix when the parent's rotation is the left operand.
    Quaternion chain;
    walkTransformChain(world, transform, ancestor, [&](const Transform& t) {
        chain = t.rotation * chain;
        return true;
    });
    q = q * chain;
}

namespace {

Matrix3 basisProduct(const Matrix3& a, const Matrix3& b)
{
    Matrix3 r;
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            r.m[column * 3 + row]
                = a.m[row] * b.m[column * 3] + a.m[3 + row] * b.m[column * 3 + 1] + a.m[6 + row] * b.m[column * 3 + 2];
    return r;
}

Matrix3 scaledRotation(const Transform& t)
{
    Matrix3 r = t.rotation.toMatrix3();
    const quern::f32 scale[3] = { t.scale.x, t.scale.y, t.scale.z };
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            r.m[column * 3 + row] *= scale[row];
    return r;
}

} // namespace

void TransformComponent::worldBasis(const Transform& transform, Matrix3& b, EntityHandle ancestor, World& world)
{
    Matrix3 chain;
    walkTransformChain(world, transform, ancestor, [&](const Transform& t) {
        chain = basisProduct(scaledRotation(t), chain);
        return true;
    });
    b = basisProduct(b, chain);
}

Vector3 TransformComponent::vectorToWorld(const Transform& transform, const Vector3& vector, World& world)
{
    Matrix3 basis;
    worldBasis(transform, basis, EntityHandle {}, world);
    return basis * vector;
}

Vector3 Transform::vectorToLocal(const Transform& transform, const Vector3& vector, World& world)
{
    Matrix3 basis;
    TransformComponent::worldBasis(transform, basis, EntityHandle {}, world);
    Matrix4 m;
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            m.m[column * 4 + row] = basis.m[column * 3 + row];
    m.invertLinear();
    return m.transformVector(vector);
}

void Transform::setWorldPosition(Transform& transform, const Vector3& point, World& world)
{
    const i64 parent = parentIndexOf(transform, world);
    if (parent < 0) {
        transform.position = point;
        return;
    }
    Matrix4 p;
    accumulateWorldMatrix(transformAt(world, static_cast<u64>(parent)), p, EntityHandle {}, world);
    p.tryInvert();
    transform.position = p.transformPoint(point);
}

} // namespace harmonize
