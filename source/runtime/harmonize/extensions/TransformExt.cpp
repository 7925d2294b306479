// Whole-subtree operations on transforms: cloning, activation, enabling a
// component, destruction and search by path.

#include "harmonize/components/ComponentTypes.h"
#include "harmonize/components/TransformChain.h"
#include "harmonize/systems/TransformHierarchySystem.h"

#include "quern/containers/Array.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"

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

// The entity at `index` hangs below `root` (or is its direct child) without
// being the root's own parent line: what subtree operations take along.
bool isBelow(World& world, u64 index, const Transform& root)
{
    const Transform& t = transformAt(world, index);
    const i64 parent = parentIndexOf(t, world);
    if (parent < 0 || t.parent == root.parent)
        return false;
    const Transform& parentRecord = transformAt(world, static_cast<u64>(parent));
    return &parentRecord == &root || Transform::isDescendantOf(parentRecord, root, world);
}

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
    const u64 slots = world.getSlotCount();
    for (u64 i = 0; i < slots; ++i)
        if (world.getComponentMask(i).containsAll(required) && isBelow(world, i, root))
            handles.append(handleOf(world, i));
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
    const u64 own = indexOfTransform(world, transform);
    const u64 slots = world.getSlotCount();
    for (u64 i = 0; i < slots; ++i)
        if (world.getComponentMask(i).test(Transform::kType) && (i == own || isBelow(world, i, transform)))
            list.append(handleOf(world, i));
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
