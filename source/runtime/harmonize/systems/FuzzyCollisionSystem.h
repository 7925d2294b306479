#pragma once
// Fuzzy zones are level volumes with a soft edge: inside the core the player
// is fully in, across the falloff band its membership fades to 0. At world
// start every zone becomes a trigger of its core plus falloff; the trigger
// events keep the list of (zone, player) overlaps, and every fixed tick each
// overlap's weight goes to the game camera, which mixes the cameras of the
// zones the player stands in.

#include "harmonize/components/Components.h"
#include "harmonize/events/GameEvents.h"
#include "harmonize/systems/GameCameraSystem.h"

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Vector3.h"

#include <span>

namespace harmonize {

struct AppContext;

// The zone's falloff at the player's position before easing: 1 in the core,
// falling linearly across the band to 0 at its outer edge and beyond. A sphere
// measures in three dimensions, a box in x and y, with its corner bands
// radial. A box axis without falloff never leaves the core; a sphere without
// falloff has a hard edge. NaN when a position is not a number. A shape other
// than sphere or box is fatal.
f32 fuzzyFalloff(const FuzzyZone& zone, const quern::math::Vector3& zonePosition,
    const quern::math::Vector3& playerPosition);

// The weight the camera gets: the falloff eased by the zone's curve, clamped
// to [0, 1]; 0 for a NaN.
f32 fuzzyWeight(const FuzzyZone& zone, const quern::math::Vector3& zonePosition,
    const quern::math::Vector3& playerPosition);

class FuzzyCollisionSystem final : public quern::entity::System {
public:
    explicit FuzzyCollisionSystem(AppContext& context);
    ~FuzzyCollisionSystem() override;
    FuzzyCollisionSystem(const FuzzyCollisionSystem&) = delete;
    FuzzyCollisionSystem& operator=(const FuzzyCollisionSystem&) = delete;

    void entitiesDeactivated(const EntityHandle* handles, u64 count, quern::entity::World& world) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Trigger events: a pair of an enabled FuzzyZone and an enabled
    // PlayerMovement, in either order; other pairs are ignored.
    void onEnter(const PairEvent& pair, quern::entity::World& world);
    void onExit(const PairEvent& pair, quern::entity::World& world);

    // The quick save's copy of the overlap list, and its restore.
    void saveSnapshot();
    void restoreSnapshot();

    std::span<const FuzzyPair> overlaps() const;
    std::span<const FuzzyPair> savedOverlaps() const;

private:
    void convertToTrigger(EntityHandle zone, quern::entity::World& world);
    // Removes every overlap that `matches`, the camera's entry of each first.
    template <class Match> void removeOverlaps(Match matches, quern::entity::World& world);

    AppContext* m_context;
    quern::containers::Array m_overlaps; // FuzzyPair, in order of entering
    quern::containers::Array m_savedOverlaps; // FuzzyPair, the quick save's copy
};

} // namespace harmonize
