#pragma once
// Checks of a level's PlayerMovement tuning that the game cannot survive: the
// ground and air velocities are divided by walkDamping and airDamping every
// tick, so anything not above 0 sends the player to infinity or NaN at once.

#include "quern/Types.h"

#include <string>

namespace quern::assetbuild {

// `record` holds the PlayerMovement component bytes of the entity `entityName`
// of the level `levelName`. False with a message naming both for a
// walkDamping or airDamping that is not above 0 (NaN included).
bool checkPlayerMovement(const std::string& levelName, const std::string& entityName, const u8* record,
    std::string& error);

} // namespace quern::assetbuild
