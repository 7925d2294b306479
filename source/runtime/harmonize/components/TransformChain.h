#pragma once
// The one walk up a transform chain that every chain operation uses, and the
// affine arithmetic the per-frame matrix update runs on.

#include "harmonize/components/Transform.h"

#include "quern/entity/World.h"

namespace harmonize {

// Fatal: the chain from `start` is longer than the world has slots.
[[noreturn]] void failTransformCycle(quern::entity::World& world, const Transform& start);

inline Transform& transformRecord(quern::entity::World& world, quern::u64 index)
{
    return *reinterpret_cast<Transform*>(
        world.store + world.componentOffsets[Transform::kType] + index * sizeof(Transform));
}

// The slot a parent handle names, or -1 when it names no entity of a world of
// `slots` slots: none in either half, or an index past the slots.
inline quern::i64 linkedSlot(quern::entity::EntityHandle parent, quern::u64 slots)
{
    if (parent.index() == quern::entity::EntityHandle::kNoIndex || parent.generation() == 0 || parent.index() >= slots)
        return -1;
    return parent.index();
}

// The parent's record, or null when the parent names no entity of the world.
inline Transform* parentRecord(quern::entity::World& world, const Transform& transform, quern::u64 slots)
{
    const quern::i64 slot = linkedSlot(transform.parent, slots);
    return slot < 0 ? nullptr : &transformRecord(world, static_cast<quern::u64>(slot));
}

// Calls visit(record) for `start` and then for each ancestor, child first.
// Stops after a record whose parent equals `ancestor` (32-bit compare) or names
// no entity of the world, or when visit returns false.
template <class Visit>
void walkTransformChain(
    quern::entity::World& world, const Transform& start, quern::entity::EntityHandle ancestor, Visit&& visit)
{
    const quern::u64 slots = world.getSlotCount();
    const Transform* current = &start;
    for (quern::u64 visited = 1;; ++visited) {
        if (visited > slots + 1)
            failTransformCycle(world, start);
        if (!visit(*current) || current->parent == ancestor)
            return;
        current = parentRecord(world, *current, slots);
        if (!current)
            return;
    }
}

// An affine matrix as four columns of three: the three axes, then the
// translation.
struct AffineMatrix {
    quern::f32 m[12];
};

inline AffineMatrix localAffine(const Transform& t, bool withScale)
{
    const quern::math::Matrix3 r = t.rotation.toMatrix3();
    const quern::f32 sx = withScale ? t.scale.x : 1.0f;
    const quern::f32 sy = withScale ? t.scale.y : 1.0f;
    const quern::f32 sz = withScale ? t.scale.z : 1.0f;
    return AffineMatrix { { sx * r.m[0], sy * r.m[1], sz * r.m[2], sx * r.m[3], sy * r.m[4], sz * r.m[5], sx * r.m[6],
        sy * r.m[7], sz * r.m[8], t.position.x, t.position.y, t.position.z } };
}

// a * b: b applied first. Written out so the whole product stays in registers.
inline AffineMatrix operator*(const AffineMatrix& a, const AffineMatrix& b)
{
    const quern::f32 a0 = a.m[0], a1 = a.m[1], a2 = a.m[2], a3 = a.m[3], a4 = a.m[4], a5 = a.m[5];
    const quern::f32 a6 = a.m[6], a7 = a.m[7], a8 = a.m[8];
    AffineMatrix r;
    for (int column = 0; column < 4; ++column) {
        const quern::f32 x = b.m[column * 3], y = b.m[column * 3 + 1], z = b.m[column * 3 + 2];
        r.m[column * 3] = a0 * x + a3 * y + a6 * z;
        r.m[column * 3 + 1] = a1 * x + a4 * y + a7 * z;
        r.m[column * 3 + 2] = a2 * x + a5 * y + a8 * z;
    }
    r.m[9] += a.m[9];
    r.m[10] += a.m[10];
    r.m[11] += a.m[11];
    return r;
}

inline void storeAffine(const AffineMatrix& a, quern::math::Matrix4& out)
{
    for (int column = 0; column < 4; ++column) {
        out.m[column * 4] = a.m[column * 3];
        out.m[column * 4 + 1] = a.m[column * 3 + 1];
        out.m[column * 4 + 2] = a.m[column * 3 + 2];
        out.m[column * 4 + 3] = column == 3 ? 1.0f : 0.0f;
    }
}

// The product of the local matrices from `start` up to `ancestor`, root first.
// Gathered child first with the parent on the left: the product a root-first
// walk builds, without a recursion as deep as the chain.
inline AffineMatrix chainAffine(
    quern::entity::World& world, const Transform& start, quern::entity::EntityHandle ancestor)
{
    // The same stops as walkTransformChain, unrolled: this runs for every
    // entity of every world update.
    const quern::u64 slots = world.getSlotCount();
    AffineMatrix chain = localAffine(start, true);
    const Transform* current = &start;
    for (quern::u64 visited = 1; current->parent != ancestor; ++visited) {
        current = parentRecord(world, *current, slots);
        if (!current)
            break;
        if (visited > slots)
            failTransformCycle(world, start);
        chain = localAffine(*current, true) * chain;
    }
    return chain;
}

} // namespace harmonize
