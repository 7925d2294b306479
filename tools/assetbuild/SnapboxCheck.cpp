#include "SnapboxCheck.h"

#include "harmonize/components/Components.h"
#include "harmonize/extensions/SnapboxClusterExt.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldFile.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/PODUtility.h"

#include <algorithm>

namespace quern::assetbuild {
namespace {

using harmonize::Collider;
using harmonize::Snapbox;
using harmonize::SnapboxCluster;

// Takes away what only hides boxes for a while: every blocker, and the
// trigger flag that hides a platform.
void revealEveryBox(entity::World& world)
{
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        const entity::ComponentMask& mask = world.getComponentMask(slot);
        if (mask.test(Snapbox::kType))
            static_cast<Snapbox*>(world.getComponent(slot, Snapbox::kType))->blocker = entity::EntityHandle {};
        if (mask.containsAll(harmonize::kSnapboxClusterMask))
            static_cast<Collider*>(world.getComponent(slot, Collider::kType))->trigger = 0;
    }
}

bool anyBoxPairs(entity::World& world, const SnapboxCluster& cluster)
{
    const u64 count = harmonize::boxCountOf(cluster);
    for (u64 i = 0; i < count; ++i) {
        harmonize::SnapPair pair;
        if (harmonize::searchSnapPair(world, cluster.boxes[i], false, pair))
            return true;
    }
    return false;
}

} // namespace

bool checkSnapboxClusters(const std::vector<u8>& worldFile, const std::string& level, std::string& error)
{
    entity::World world;
    StringSource source(worldFile.data(), worldFile.size());
    entity::loadWorld(source, serialize::selectPODToken(source), world, 0, nullptr, level.c_str());
    if (!harmonize::matchesComponentSizeTable(world))
        return true;
    revealEveryBox(world);
    for (u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        if (!world.getComponentMask(slot).test(SnapboxCluster::kType))
            continue;
        const auto& cluster = *static_cast<SnapboxCluster*>(world.getComponent(slot, SnapboxCluster::kType));
        // Without boxes nobody stands on the cluster, so nobody looks for a pair.
        if (cluster.boxCount <= 0 || anyBoxPairs(world, cluster))
            continue;
        const entity::EntityHandle handle = entity::EntityHandle::make(static_cast<u16>(slot), world.getGeneration(slot));
        const char* name = world.getEntityName(handle);
        error = "level " + level + ": no box of the snap-box cluster " + (name && *name ? name : "(unnamed)")
            + " (entity " + std::to_string(slot) + ") pairs with a neighbour";
        return false;
    }
    return true;
}

} // namespace quern::assetbuild
