#pragma once
// The collectibles the player holds in a level world. Picking one up counts
// it and adds an icon to the inventory; paying at a save point and the level
// tally spend icons, newest first. The counter drawn on the screen, and the
// flights of the collectibles to it and back out to a save point, belong to
// the HUD; this keeps what they are drawn from.

#include "harmonize/components/Components.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

enum class CollectibleIconState : u32 {
    ToCounter = 0, // picked up, on its way to the counter
    InCounter = 1,
    ToSavePoint = 2, // paid, on its way to the save point
    Spent = 3,
};

struct CollectibleIcon {
    EntityHandle collectible;
    EntityHandle counterIcon; // its clone in the counter, 0 until it arrives
    CollectibleIconState state;
};

class CollectibleSystem final : public quern::entity::System {
public:
    static constexpr u64 kMaxCollected = 16;
    static constexpr u64 kMaxIcons = 15;

    explicit CollectibleSystem(AppContext& context);

    void attach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;

    // The player touched the collectible: counted once, its pick-up effect
    // spawned where it is, an icon added.
    void onCollected(EntityHandle collectible, quern::entity::World& world);
    // One collectible paid at a save point: the counter drops and the newest
    // unspent icon leaves the counter.
    void payAtSavePoint(const SavePointTrigger& savePoint, quern::entity::World& world);
    // The newest unspent icon is spent; a soft assertion when none is.
    void consumeCollectible();
    // After a quick-save restore: whatever was collected stays picked and
    // out of the level.
    void restoreSnapshot(quern::entity::World& world);

    // The collectibles in hand: the start money plus those picked up, less
    // those paid.
    i32 collectedCount() const { return m_collectedCount; }
    u64 collectiblesInWorld() const { return m_collectiblesInWorld; }
    u64 collectedListCount() const { return m_collectedListCount; }
    EntityHandle collected(u64 index) const { return m_collected[index]; }
    u64 iconCount() const { return m_iconCount; }
    const CollectibleIcon& icon(u64 index) const { return m_icons[index]; }

private:
    AppContext* m_context;
    EntityHandle m_collected[kMaxCollected] {};
    u64 m_collectedListCount = 0;
    CollectibleIcon m_icons[kMaxIcons] {};
    u64 m_iconCount = 0;
    i32 m_collectedCount = 0;
    u64 m_collectiblesInWorld = 0;
};

} // namespace harmonize
