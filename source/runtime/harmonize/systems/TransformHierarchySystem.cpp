#include "harmonize/systems/TransformHierarchySystem.h"

#include "harmonize/components/ComponentTypes.h"
#include "harmonize/components/TransformChain.h"

#include "quern/entity/World.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace harmonize {

using quern::f32;
using quern::i64;
using quern::u64;
using quern::u8;
using quern::entity::EntityHandle;
using quern::entity::EntityState;
using quern::entity::World;
using quern::math::Matrix4;

namespace {

bool isLive(const World& world, u64 index)
{
    return world.getState(index) != EntityState::Free && world.getGeneration(index) != 0;
}

// The world matrix of the chain from `start`; with `noScale` the product of
// the chain's scales is divided out of the axis columns again.
void storeChain(World& world, const Transform& start, bool noScale, Matrix4& out)
{
    AffineMatrix m = chainAffine(world, start, EntityHandle {});
    if (noScale) {
        f32 scale[3] = { 1.0f, 1.0f, 1.0f };
        walkTransformChain(world, start, EntityHandle {}, [&](const Transform& t) {
            scale[0] *= t.scale.x;
            scale[1] *= t.scale.y;
            scale[2] *= t.scale.z;
            return true;
        });
        for (int column = 0; column < 3; ++column)
            if (scale[column] != 0.0f)
                for (int row = 0; row < 3; ++row)
                    m.m[column * 3 + row] *= 1.0f / scale[column];
    }
    storeAffine(m, out);
}

void storeEntityMatrix(World& world, u64 index, u8 flags, Matrix4& out)
{
    const Transform& transform = transformRecord(world, index);
    const bool noScale = (flags & kNoScale) != 0;
    if ((flags & (kParentOnly | kNoParent)) == (kParentOnly | kNoParent)) {
        out = Matrix4 {};
    } else if (flags & kNoParent) {
        storeAffine(localAffine(transform, !noScale), out);
    } else if (flags & kParentOnly) {
        const Transform* parent = parentRecord(world, transform, world.getSlotCount());
        if (parent)
            storeChain(world, *parent, noScale, out);
        else
            out = Matrix4 {};
    } else {
        storeChain(world, transform, noScale, out);
    }
}

BoundingSphere carryBounds(const Matrix4& m, const BoundingSphere& local)
{
    const f32* c = local.centre;
    BoundingSphere out;
    for (int row = 0; row < 3; ++row)
        out.centre[row] = m.m[row] * c[0] + m.m[4 + row] * c[1] + m.m[8 + row] * c[2] + m.m[12 + row];
    f32 largest = 0.0f;
    for (int column = 0; column < 3; ++column) {
        const f32* axis = &m.m[column * 4];
        largest = std::max(largest, axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    }
    out.radius = local.radius * std::sqrt(largest);
    return out;
}

} // namespace

TransformHierarchySystem::TransformHierarchySystem()
    : m_childRanges(sizeof(ChildRange), 8)
    , m_childList(sizeof(EntityHandle), alignof(EntityHandle))
    , m_worldMatrices(sizeof(Matrix4), alignof(Matrix4))
    , m_localBounds(sizeof(BoundingSphere), alignof(BoundingSphere))
    , m_worldBounds(sizeof(BoundingSphere), alignof(BoundingSphere))
    , m_flags(sizeof(u8), 1)
{
}

TransformHierarchySystem::~TransformHierarchySystem() { freeArrays(); }

void TransformHierarchySystem::freeArrays()
{
    m_flags.release();
    m_worldBounds.release();
    m_localBounds.release();
    m_worldMatrices.release();
    m_childList.release();
    m_childRanges.release();
}

void TransformHierarchySystem::adoptAllocator(quern::memory::Allocator* allocator)
{
    freeArrays();
    m_childRanges = quern::containers::Array(sizeof(ChildRange), 8, allocator);
    m_childList = quern::containers::Array(sizeof(EntityHandle), alignof(EntityHandle), allocator);
    m_worldMatrices = quern::containers::Array(sizeof(Matrix4), alignof(Matrix4), allocator);
    m_localBounds = quern::containers::Array(sizeof(BoundingSphere), alignof(BoundingSphere), allocator);
    m_worldBounds = quern::containers::Array(sizeof(BoundingSphere), alignof(BoundingSphere), allocator);
    m_flags = quern::containers::Array(sizeof(u8), 1, allocator);
}

void TransformHierarchySystem::entitiesCreated(
    const EntityHandle* handles, u64 count, World& world, quern::memory::Allocator*)
{
    resizeArrays(world);
    for (u64 i = 0; i < count; ++i)
        if (handles[i].index() < m_flags.count())
            m_flags.at<u8>(handles[i].index()) = 0;
    m_childListsDirty = true;
}

void TransformHierarchySystem::entitiesDestroyed(const EntityHandle*, u64, World&, quern::memory::Allocator*)
{
    m_childListsDirty = true;
}

void TransformHierarchySystem::attach(quern::memory::Allocator* allocator) { adoptAllocator(allocator); }

void TransformHierarchySystem::detach(quern::memory::Allocator*) { freeArrays(); }

void TransformHierarchySystem::resizeArrays(World& world)
{
    const u64 capacity = std::max(world.getCapacity(), world.getSlotCount());
    auto grow = [capacity](quern::containers::Array& array) {
        const u64 old = array.count();
        if (old >= capacity)
            return;
        array.expand(capacity);
        std::memset(array.at(old), 0, (capacity - old) * array.elementSize());
    };
    grow(m_childRanges);
    grow(m_localBounds);
    grow(m_worldBounds);
    grow(m_flags);
    const u64 oldMatrices = m_worldMatrices.count();
    if (oldMatrices < capacity) {
        m_worldMatrices.expand(capacity);
        for (u64 i = oldMatrices; i < capacity; ++i)
            m_worldMatrices.at<Matrix4>(i) = Matrix4 {};
    }
}

void TransformHierarchySystem::worldStarted(World& world, quern::memory::Allocator*)
{
    resizeArrays(world);
    updateWorldMatrices(world);
    rebuildChildLists(world);
    m_childListsDirty = false;
}

void TransformHierarchySystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (!m_childListsDirty)
        return;
    rebuildChildLists(world);
    m_childListsDirty = false;
}

void TransformHierarchySystem::rebuildChildLists(World& world)
{
    resizeArrays(world);
    const u64 slots = world.getSlotCount();
    ChildRange* ranges = m_childRanges.dataAs<ChildRange>();
    if (m_childRanges.count() > 0)
        std::memset(ranges, 0, m_childRanges.count() * sizeof(ChildRange));
    // The parent slot of a live entity, -1 for dead ones and roots.
    auto parentSlot
        = [&world](u64 i) -> i64 { return isLive(world, i) ? parentIndexOf(transformAt(world, i), world) : -1; };
    u64 total = 0;
    for (u64 i = 0; i < slots; ++i) {
        const i64 parent = parentSlot(i);
        if (parent < 0)
            continue;
        ++ranges[parent].count;
        ++total;
    }
    m_childList.clear();
    m_childList.expand(total);
    u64 end = 0;
    for (u64 i = 0; i < slots; ++i) {
        end += ranges[i].count;
        ranges[i].start = end;
    }
    EntityHandle* list = m_childList.dataAs<EntityHandle>();
    for (u64 i = 0; i < slots; ++i) {
        const i64 parent = parentSlot(i);
        if (parent < 0)
            continue;
        list[--ranges[parent].start] = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
    }
}

void TransformHierarchySystem::updateWorldMatrices(World& world)
{
    resizeArrays(world);
    const u64 slots = world.getSlotCount();
    for (u64 i = 0; i < slots; ++i) {
        Matrix4& m = m_worldMatrices.at<Matrix4>(i);
        if (!isLive(world, i)) {
            m = Matrix4 {};
            m_worldBounds.at<BoundingSphere>(i) = BoundingSphere {};
            continue;
        }
        storeEntityMatrix(world, i, m_flags.at<u8>(i), m);
        m_worldBounds.at<BoundingSphere>(i) = carryBounds(m, m_localBounds.at<BoundingSphere>(i));
    }
}

const EntityHandle* TransformHierarchySystem::children(u64 index, u64& count) const
{
    if (index >= m_childRanges.count()) {
        count = 0;
        return nullptr;
    }
    const ChildRange& range = m_childRanges.at<ChildRange>(index);
    count = range.count;
    return m_childList.dataAs<EntityHandle>() + range.start;
}

void TransformHierarchySystem::setSubtreeActive(EntityHandle entity, bool active, World& world)
{
    setSubtreeActive(entity, active, world, 0);
}

void TransformHierarchySystem::setSubtreeActive(EntityHandle entity, bool active, World& world, u64 depth)
{
    if (depth > world.getSlotCount())
        failTransformCycle(world, transformAt(world, entity.index()));
    u64 count = 0;
    const EntityHandle* list = isSomeEntity(entity) ? children(entity.index(), count) : nullptr;
    for (u64 c = 0; c < count; ++c)
        setSubtreeActive(list[c], active, world, depth + 1);
    if (!world.isValid(entity) || world.isActive(entity) == active)
        return;
    if (active)
        world.activateEntities(&entity, 1);
    else
        world.deactivateEntity(entity);
}

} // namespace harmonize
