#pragma once
// The Transform component (type 23): a position, rotation and scale relative
// to an optional parent entity, and the operations that carry a transform
// chain into world space.
//
// The local matrix is T(position) * S(scale) * R(rotation): the rotation
// first, then the scale along the parent's axes, then the translation. The
// world matrix is the parent's world matrix times the local one. R(q) is the
// engine's quaternion matrix, so a chain's world rotation is parent * own.
//
// Chain walks stop at a parent that names no entity (index 0xffff or
// generation 0) or an index past the world's slots, so bad level data reads
// nothing outside the store; a chain longer than the world's slot count can
// only be a parent cycle and is fatal.

#include "quern/Types.h"
#include "quern/entity/ComponentMask.h"
#include "quern/entity/EntityHandle.h"
#include "quern/math/Matrix3.h"
#include "quern/math/Matrix4.h"
#include "quern/math/Quaternion.h"
#include "quern/math/Vector3.h"

namespace quern::containers {
class Array;
}
namespace quern::entity {
class World;
}

namespace harmonize {

class TransformHierarchySystem;

#pragma pack(push, 4)

struct Transform {
    static constexpr quern::u8 kType = 23;

    quern::math::Vector3 position; // in the parent's space
    quern::math::Quaternion rotation;
    quern::math::Vector3 scale { 1.0f, 1.0f, 1.0f };
    quern::entity::EntityHandle parent; // 0 for a root

    // Chain operations. `ancestor` is where a walk up the chain stops: 0 for
    // the whole chain, else the parent handle one of the transform's ancestors
    // stores.

    // m = m * (world matrix of the chain up to `ancestor`).
    static void accumulateWorldMatrix(const Transform& transform, quern::math::Matrix4& m,
        quern::entity::EntityHandle ancestor, quern::entity::World& world);
    static quern::math::Vector3 localToWorld(
        const Transform& transform, const quern::math::Vector3& point, quern::entity::World& world);
    // q = q * (world rotation of the chain up to `ancestor`).
    static void accumulateWorldRotation(const Transform& transform, quern::math::Quaternion& q,
        quern::entity::EntityHandle ancestor, quern::entity::World& world);
    // The world vector's coordinates in the transform's own axes; a singular
    // basis is used as it is.
    static quern::math::Vector3 vectorToLocal(
        const Transform& transform, const quern::math::Vector3& vector, quern::entity::World& world);
    // Moves the transform so its origin lands on `point` in world space;
    // rotation and scale stay.
    static void setWorldPosition(Transform& transform, const quern::math::Vector3& point, quern::entity::World& world);

    // Subtree operations (the transform extension).

    // Clones the root and its descendants and activates the clones; the root's
    // clone gets `newParent`. 0 when the world lacks free slots.
    static quern::entity::EntityHandle cloneSubtree(
        const Transform& root, quern::entity::World& world, quern::entity::EntityHandle newParent);
    // The entity first, then its children in child-list order.
    static void setSubtreeActive(const Transform& transform, bool active, quern::entity::World& world,
        const TransformHierarchySystem& hierarchy);
    static void setComponentEnabledInSubtree(const Transform& transform, quern::u8 type, bool enabled,
        quern::entity::World& world, const TransformHierarchySystem& hierarchy);
    static void destroySubtree(const Transform& transform, quern::entity::World& world);
    static bool isDescendantOf(const Transform& transform, const Transform& ancestor, quern::entity::World& world);
    // Appends, in index order, every descendant of `root` with all of `mask`.
    static void collectDescendants(const Transform& root, quern::containers::Array& handles,
        const quern::entity::ComponentMask& mask, quern::entity::World& world);
    // The first entity below `start` whose names up the chain match the
    // '/'-separated path; 0 when none does. An empty path gives `start`.
    static quern::entity::EntityHandle findByPath(const Transform& start, const char* path, quern::entity::World& world,
        const TransformHierarchySystem& hierarchy);
    static bool matchesPath(
        const char* path, quern::u64 length, quern::entity::EntityHandle entity, quern::entity::World& world);
};

#pragma pack(pop)

static_assert(sizeof(Transform) == 44);
static_assert(offsetof(Transform, rotation) == 12 && offsetof(Transform, scale) == 28);
static_assert(offsetof(Transform, parent) == 40);

struct TransformComponent {
    // b = b * (S * R of each transform of the chain, root first): the columns
    // are the transform's local axes in world space.
    static void worldBasis(const Transform& transform, quern::math::Matrix3& b, quern::entity::EntityHandle ancestor,
        quern::entity::World& world);
    static quern::math::Vector3 vectorToWorld(
        const Transform& transform, const quern::math::Vector3& vector, quern::entity::World& world);
};

// The Transform record of slot `index` (whether or not the entity has one).
Transform& transformAt(quern::entity::World& world, quern::u64 index);
// The slot a record of the world's Transform store belongs to.
quern::u64 indexOfTransform(quern::entity::World& world, const Transform& transform);
// The handle of that slot with the slot's current generation.
quern::entity::EntityHandle entityOfTransform(quern::entity::World& world, const Transform& transform);
// The slot of the transform's parent, or -1 when the parent names no entity of
// the world: none, or an index past the world's slots.
quern::i64 parentIndexOf(const Transform& transform, const quern::entity::World& world);

// T * S * R of one transform; without S when `withScale` is false.
quern::math::Matrix4 localMatrix(const Transform& transform, bool withScale = true);

} // namespace harmonize
