#pragma once
// Gravity zones pull along their own local -Y axis. At world start every zone
// gets that axis in the plane of play as the gravity direction it gives the
// player who enters it.

#include "quern/entity/System.h"

namespace harmonize {

class GravityZoneSystem final : public quern::entity::System {
public:
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
};

} // namespace harmonize
