#pragma once
// Keeps, per entity, the list of its transform children, its world matrix and
// its world bounding sphere. Registered first in every world; the world-update
// task calls updateWorldMatrices after each world update, so the matrices hold
// from the end of one update to the end of the next. Code that needs a world
// position during a tick walks the chain instead (Transform::localToWorld).

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Matrix4.h"

namespace harmonize {

struct BoundingSphere {
    quern::f32 centre[3];
    quern::f32 radius;
};

struct ChildRange {
    quern::u64 start;
    quern::u64 count;
};

// Per-entity rules for the world matrix; only the entity's own flags count.
enum HierarchyFlags : quern::u8 {
    kParentOnly = 1, // the parent's world matrix; the own transform is left out
    kNoParent = 2, // the own local matrix; the chain above is left out
    kNoScale = 4, // the chain's accumulated scale is taken out again
};

class TransformHierarchySystem : public quern::entity::System {
public:
    TransformHierarchySystem();
    ~TransformHierarchySystem() override;

    void entitiesCreated(const quern::entity::EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const quern::entity::EntityHandle* handles, quern::u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    void updateWorldMatrices(quern::entity::World& world);
    // Groups the children of every entity by a counting sort: each range lists
    // its children in descending index order.
    void rebuildChildLists(quern::entity::World& world);
    // Children first, depth first, then the entity itself when it is valid.
    void setSubtreeActive(quern::entity::EntityHandle entity, bool active, quern::entity::World& world);

    // The children of `index` (none for an index the lists do not cover).
    const quern::entity::EntityHandle* children(quern::u64 index, quern::u64& count) const;
    const quern::math::Matrix4& worldMatrix(quern::u64 index) const
    {
        return m_worldMatrices.at<quern::math::Matrix4>(index);
    }
    BoundingSphere& localBounds(quern::u64 index) { return m_localBounds.at<BoundingSphere>(index); }
    const BoundingSphere& worldBounds(quern::u64 index) const { return m_worldBounds.at<BoundingSphere>(index); }
    quern::u8& flags(quern::u64 index) { return m_flags.at<quern::u8>(index); }
    bool childListsDirty() const { return m_childListsDirty; }

private:
    void adoptAllocator(quern::memory::Allocator* allocator);
    void freeArrays();
    // Sizes the per-entity arrays to the world's capacity; new entries are zero.
    void resizeArrays(quern::entity::World& world);
    void setSubtreeActive(
        quern::entity::EntityHandle entity, bool active, quern::entity::World& world, quern::u64 depth);

    quern::containers::Array m_childRanges; // ChildRange per entity
    quern::containers::Array m_childList; // EntityHandle, grouped by parent
    quern::containers::Array m_worldMatrices; // Matrix4 per entity
    quern::containers::Array m_localBounds; // BoundingSphere per entity
    quern::containers::Array m_worldBounds; // BoundingSphere per entity
    quern::containers::Array m_flags; // HierarchyFlags per entity
    bool m_childListsDirty = false;
};

} // namespace harmonize
