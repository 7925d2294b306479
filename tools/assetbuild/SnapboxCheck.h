#pragma once
// The content tool's check of a level's walking surfaces: a player who lands
// on a snap-box cluster walks along a pair of its boxes, so every cluster
// with boxes must hold at least one box that pairs with a neighbour.

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::assetbuild {

// `worldFile` is the level as the game loads it. The layout is judged, not
// the moment: blockers and hidden platforms, which come and go in play, do
// not count. False with a message naming the level and the cluster entity
// for a cluster in which no box forms a pair.
bool checkSnapboxClusters(const std::vector<u8>& worldFile, const std::string& level, std::string& error);

} // namespace quern::assetbuild
