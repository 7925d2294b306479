#pragma once
// Darkens the whole screen: every enabled ScreenFade of the world moves its
// opacity by speed x direction each frame, held within 0..1, and while it is
// above 0 a black rectangle of that opacity covers the overlay's virtual
// screen. Levels fade in from dark; deaths and cutscenes fade out.

#include "harmonize/components/Components.h"

#include "quern/containers/Array.h"
#include "quern/entity/System.h"

namespace harmonize {

class OverlayBatch;

class ScreenFaderSystem final : public quern::entity::System {
public:
    static constexpr u64 kReservedFades = 8;

    // Without an overlay the fades still run; nothing is drawn.
    explicit ScreenFaderSystem(OverlayBatch* overlay);
    ~ScreenFaderSystem() override;

    void entitiesCreated(const EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void entitiesDestroyed(const EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    // Every enabled fade jumps to its end: fully dark or fully clear.
    void completeFades(quern::entity::World& world);

    // EntityHandle of each fade entity, in creation order.
    const quern::containers::Array& fades() const { return m_fades; }

private:
    OverlayBatch* m_overlay;
    quern::containers::Array m_fades;
};

} // namespace harmonize
