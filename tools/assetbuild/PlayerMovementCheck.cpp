#include "PlayerMovementCheck.h"

#include "harmonize/components/Components.h"

#include <cstring>

namespace quern::assetbuild {

bool checkPlayerMovement(const std::string& levelName, const std::string& entityName, const u8* record,
    std::string& error)
{
    harmonize::PlayerMovement movement;
    std::memcpy(static_cast<void*>(&movement), record, sizeof movement);
    const struct {
        const char* name;
        f32 value;
    } divisors[] = { { "walkDamping", movement.walkDamping }, { "airDamping", movement.airDamping } };
    for (const auto& divisor : divisors) {
        if (divisor.value > 0.0f)
            continue;
        error = "level " + levelName + ": the PlayerMovement of " + entityName + " needs " + divisor.name
            + " above 0 (the player's velocity is divided by it every tick), not " + std::to_string(divisor.value);
        return false;
    }
    return true;
}

} // namespace quern::assetbuild
