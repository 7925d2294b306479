// Whole-subtree operations on transforms: cloning, activation, enabling a
// component, destruction and search by path.

#include "harmonize/components/ComponentTypes.h"
#include "harmonize/components/TransformChain.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/containers/Array.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace harmonize {

using quern::i64;
using quern::u16;
using quern::u64;
using quern::u8;
using quern::containers::Array;
using quern::entity::ComponentMask;
using quern::entity::EntityHandle;
using quern::entity::World;

namespace {

EntityHandle handleOf(const World& world, u64 index)
{
    return EntityHandle::make(static_cast<u16>(index), world.getGeneration(index));
}

// Which slots hang below `root`: a slot does when its parent names an entity,
// differs from the root's own parent handle, and is the root or hangs below it
// itself. One pass in index order; each answer is kept, so a parent met again
// costs one look-up.
class SubtreeScan {
public:
    SubtreeScan(World& world, const Transform& root)
        : m_world(world)
        , m_root(root)
        , m_rootIndex(indexOfTransform(world, root))
        , m_slots(world.getSlotCount())
        , m_status(m_slots + 1, 1, 1, nullptr)
        , m_parents(m_slots + 1, sizeof(u16), alignof(u16), nullptr)
        , m_path(sizeof(u64), alignof(u64))
    {
        // One more entry past the slots answers for every parent that names
        // no entity; the root answers for itself.
        u8* status = m_status.dataAs<u8>();
        std::memset(status, kUnknown, m_slots);
        status[m_slots] = kOutside;
        if (m_rootIndex < m_slots)
            status[m_rootIndex] = kInside;
    }

    // Appends, in index order, every slot below the root whose component mask
    // holds `required`; the root itself too when `withRoot` is set.
    void collect(const ComponentMask& required, bool withRoot, Array& handles)
    {
        const u64 root = std::min(m_rootIndex, m_slots);
        scan(0, root, required, handles);
        if (root < m_slots && withRoot && m_world.getComponentMask(root).containsAll(required))
            handles.append(handleOf(m_world, root));
        scan(root + 1, m_slots, required, handles);
    }

private:
    static constexpr u8 kUnknown = 0, kInside = 1, kOutside = 2;

    // Slots [first, end), the root's own slot excluded by the caller.
    void scan(u64 first, u64 end, const ComponentMask& required, Array& handles)
    {
        // Two passes: the first reads each parent out of the Transform records
        // into a dense array (slots past the end for parents naming nothing),
        // the second walks that array. A world has fewer than 0xffff slots, so
        // `index < slots` also refuses the index 0xffff.
        const u8* records = m_world.store + m_world.componentOffsets[Transform::kType] + offsetof(Transform, parent);
        const u64 slots = m_slots;
        const quern::u32 rootParent = m_root.parent.value;
        u16* up = m_parents.dataAs<u16>();
        for (u64 i = first; i < end; ++i) {
            quern::u32 parent;
            std::memcpy(&parent, records + i * sizeof(Transform), sizeof parent);
            const u64 index = parent & 0xffff;
            const bool linked = (parent != rootParent) & (parent >= 0x10000) & (index < slots);
            up[i] = static_cast<u16>(linked ? index : slots);
        }
        const ComponentMask* masks = m_world.componentMasks.dataAs<ComponentMask>();
        u8* status = m_status.dataAs<u8>();
        for (u64 i = first; i < end; ++i) {
            u8 answer = status[up[i]];
            if (answer == kUnknown) [[unlikely]]
                answer = isRootOrBelow(up[i]) ? kInside : kOutside;
            // Every slot's answer is kept, wanted or not: its children ask next.
            status[i] = answer;
            if (answer == kInside && masks[i].containsAll(required))
                handles.append(handleOf(m_world, i));
        }
    }

    const Transform* parentOf(u64 index)
    {
        const Transform& t = transformRecord(m_world, index);
        if (t.parent == m_root.parent)
            return nullptr;
        return parentRecord(m_world, t, m_slots);
    }
    u64 parentIndex(u64 index) { return transformRecord(m_world, index).parent.index(); }

    bool isRootOrBelow(u64 index)
    {
        u8* status = m_status.dataAs<u8>();
        m_path.clear();
        u8 answer = kOutside;
        for (u64 current = index;;) {
            if (current == m_rootIndex) {
                answer = kInside;
                break;
            }
            if (status[current] != kUnknown) {
                answer = status[current];
                break;
            }
            if (m_path.count() > m_slots)
                failTransformCycle(m_world, transformRecord(m_world, index));
            m_path.append(current);
            if (!parentOf(current))
                break;
            current = parentIndex(current);
        }
        for (u64 p = 0; p < m_path.count(); ++p)
            status[m_path.at<u64>(p)] = answer;
        return answer == kInside;
    }

    World& m_world;
    const Transform& m_root;
    u64 m_rootIndex;
    u64 m_slots;
    Array m_status; // u8 per slot
    Array m_parents; // u16 per slot: the parent slot, or the slot count for none
    Array m_path; // slots met on the current climb
};

void checkDepth(World& world, const Transform& transform, u64 depth)
{
    if (depth > world.getSlotCount())
        failTransformCycle(world, transform);
}

void setSubtreeActiveFrom(
    const Transform& transform, bool active, World& world, const TransformHierarchySystem& hierarchy, u64 depth)
{
    checkDepth(world, transform, depth);
    EntityHandle entity = entityOfTransform(world, transform);
    if (world.isActive(entity) != active) {
        if (active)
            world.activateEntities(&entity, 1);
        else
            world.deactivateEntity(entity);
    }
    u64 count = 0;
    const EntityHandle* children = hierarchy.children(entity.index(), count);
    for (u64 c = 0; c < count; ++c)
        setSubtreeActiveFrom(transformAt(world, children[c].index()), active, world, hierarchy, depth + 1);
}

void setEnabledFrom(const Transform& transform, u8 type, bool enabled, World& world,
    const TransformHierarchySystem& hierarchy, u64 depth)
{
    checkDepth(world, transform, depth);
    const u64 index = indexOfTransform(world, transform);
    if (index < world.getSlotCount() && world.getComponentMask(index).test(type)) {
        ComponentMask& mask = world.getEnabledMask(index);
        if (enabled)
            mask.set(type);
        else
            mask.reset(type);
    }
    u64 count = 0;
    const EntityHandle* children = hierarchy.children(index, count);
    for (u64 c = 0; c < count; ++c)
        setEnabledFrom(transformAt(world, children[c].index()), type, enabled, world, hierarchy, depth + 1);
}

EntityHandle findFrom(const Transform& start, const char* path, u64 length, World& world,
    const TransformHierarchySystem& hierarchy, u64 depth)
{
    checkDepth(world, start, depth);
    u64 count = 0;
    const EntityHandle* children = hierarchy.children(indexOfTransform(world, start), count);
    for (u64 c = 0; c < count; ++c) {
        const EntityHandle child = children[c];
        if (!world.isValid(child))
            continue;
        if (Transform::matchesPath(path, length, child, world))
            return child;
        const EntityHandle found
            = findFrom(transformAt(world, child.index()), path, length, world, hierarchy, depth + 1);
        if (isSomeEntity(found))
            return found;
    }
    return EntityHandle {};
}

} // namespace

bool Transform::isDescendantOf(const Transform& transform, const Transform& ancestor, World& world)
{
    bool found = false;
    bool first = true;
    walkTransformChain(world, transform, ancestor.parent, [&](const Transform& t) {
        if (first) {
            first = false;
            return true;
        }
        found = &t == &ancestor;
        return !found;
    });
    return found;
}

void Transform::collectDescendants(const Transform& root, Array& handles, const ComponentMask& mask, World& world)
{
    ComponentMask required = mask;
    required.set(Transform::kType);
    SubtreeScan(world, root).collect(required, false, handles);
}

EntityHandle Transform::cloneSubtree(const Transform& root, World& world, EntityHandle newParent)
{
    Array list(sizeof(EntityHandle), alignof(EntityHandle));
    list.append(entityOfTransform(world, root));
    collectDescendants(root, list, ComponentMask {}, world);
    const u64 count = list.count();
    if (world.getCapacity() - world.liveEntityCount < count) {
        QUERN_LOG(2) << "Not enough space to clone " << count << " entities" << std::endl;
        return EntityHandle {};
    }
    Array sources(sizeof(EntityHandle), alignof(EntityHandle));
    sources.assign(list.data(), list.end());
    const EntityHandle rootParent = root.parent;
    EntityHandle* clones = list.dataAs<EntityHandle>();
    world.cloneEntities(clones, count);
    const EntityHandle* originals = sources.dataAs<EntityHandle>();
    for (u64 i = 0; i < count; ++i) {
        Transform& clone = transformAt(world, clones[i].index());
        if (clone.parent == rootParent) {
            clone.parent = newParent;
            continue;
        }
        EntityHandle remapped {};
        for (u64 s = 0; s < count; ++s)
            if (originals[s] == clone.parent) {
                remapped = clones[s];
                break;
            }
        clone.parent = remapped;
    }
    world.activateEntities(clones, count);
    return clones[0];
}

void Transform::setSubtreeActive(
    const Transform& transform, bool active, World& world, const TransformHierarchySystem& hierarchy)
{
    setSubtreeActiveFrom(transform, active, world, hierarchy, 0);
}

void Transform::setComponentEnabledInSubtree(
    const Transform& transform, u8 type, bool enabled, World& world, const TransformHierarchySystem& hierarchy)
{
    setEnabledFrom(transform, type, enabled, world, hierarchy, 0);
}

void Transform::destroySubtree(const Transform& transform, World& world)
{
    Array list(sizeof(EntityHandle), alignof(EntityHandle));
    SubtreeScan(world, transform).collect(makeComponentMask({ Transform::kType }), true, list);
    world.destroyEntities(list.dataAs<EntityHandle>(), list.count());
}

EntityHandle Transform::findByPath(
    const Transform& start, const char* path, World& world, const TransformHierarchySystem& hierarchy)
{
    const u64 length = std::strlen(path);
    if (length == 0)
        return entityOfTransform(world, start);
    return findFrom(start, path, length, world, hierarchy, 0);
}

bool Transform::matchesPath(const char* path, u64 length, EntityHandle entity, World& world)
{
    // Each step climbs one parent and consumes at least the '/', so the
    // climb ends within the path's length even on a parent cycle.
    for (;;) {
        const char* name = world.getEntityName(entity);
        const u64 nameLength = std::strlen(name);
        if (length < nameLength)
            return false;
        if (length == nameLength)
            return std::memcmp(path, name, length) == 0;
        if (entity.index() >= world.getSlotCount())
            return false;
        const Transform& t = transformAt(world, entity.index());
        if (parentIndexOf(t, world) < 0)
            return false;
        if (std::memcmp(path + length - nameLength, name, nameLength) != 0 || path[length - nameLength - 1] != '/')
            return false;
        length -= nameLength + 1;
        entity = t.parent;
    }
}

} // namespace harmonize
