#pragma once
// The collectibles the player holds in a level world, and their counter: a
// row of icons in the top-left corner of the screen. A collectible picked up
// flies to the world point behind its free counter slot, turns into a 3D icon
// that stays glued to the slot while the camera moves, and a sprite of the
// counter texture pops in at the slot. Paying at a save point takes the
// newest unspent collectible back out of the row and flies it to the save
// point; the level tally spends icons newest first too.

#include "harmonize/components/Components.h"
#include "harmonize/utils/Tweens.h"

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Matrix4.h"

namespace harmonize {

struct AppContext;
class CollectibleSystem;
struct CollectibleIcon;

enum class CollectibleIconState : u32 {
    ToCounter = 0, // picked up, on its way to the counter
    InCounter = 1,
    ToSavePoint = 2, // paid, on its way to the save point
    Spent = 3,
};

// What the completion of an icon's flight is handed.
struct CollectibleIconCallback {
    CollectibleSystem* system;
    quern::entity::World* world;
    CollectibleIcon* icon;
};

struct CollectibleIcon {
    EntityHandle collectible;
    EntityHandle counterIcon; // its clone in the counter, 0 until it arrives
    f32 slot[2]; // the centre of its counter slot on the 1920 x 1080 screen
    f32 target[2]; // x, y of the world point behind the slot
    f32 scale; // of its sprite
    CollectibleIconState state;
    CollectibleIconCallback callback;
};

class CollectibleSystem final : public quern::entity::System {
public:
    static constexpr u64 kMaxCollected = 16;
    static constexpr u64 kMaxIcons = 15;
    // Every icon's flight in (three tweens and its pop-in) and out (four):
    // the records never move once set up.
    static constexpr u64 kTweenCapacity = kMaxIcons * 8;
    // The screen the slots are laid out on, and how far in front of the
    // camera the collectibles fly.
    static constexpr f32 kScreenWidth = 1920.0f;
    static constexpr f32 kScreenHeight = 1080.0f;
    static constexpr f32 kDepthPlaneDistance = 150.0f;
    static constexpr f32 kFlightSeconds = 0.5f;
    static constexpr f32 kShrinkSeconds = 0.1f;

    explicit CollectibleSystem(AppContext& context);

    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    // The player touched the collectible: counted once, its pick-up effect
    // spawned where it is, an icon added and the collectible sent flying to
    // the counter.
    void onCollected(EntityHandle collectible, quern::entity::World& world);
    // One collectible paid at a save point: the counter drops and the newest
    // unspent icon leaves the counter for the save point.
    void payAtSavePoint(const SavePointTrigger& savePoint, quern::entity::World& world);
    // The newest unspent icon is spent; a soft assertion when none is.
    void consumeCollectible();
    // After a quick-save restore: whatever was collected stays picked and
    // out of the level.
    void restoreSnapshot(quern::entity::World& world);

    // The centre of the counter slot of icon `n`: after the icons before it
    // that are still in the counter or on their way there.
    void slotPosition(u64 n, f32 out[2]) const;

    // The collectibles in hand: the start money plus those picked up, less
    // those paid.
    i32 collectedCount() const { return m_collectedCount; }
    u64 collectiblesInWorld() const { return m_collectiblesInWorld; }
    u64 collectedListCount() const { return m_collectedListCount; }
    EntityHandle collected(u64 index) const { return m_collected[index]; }
    u64 iconCount() const { return m_iconCount; }
    const CollectibleIcon& icon(u64 index) const { return m_icons[index]; }
    // The counter texture's size in pixels: the size of a slot.
    f32 iconWidth() const { return m_iconSize[0]; }
    f32 iconHeight() const { return m_iconSize[1]; }
    u32 counterTexture() const { return m_counterTexture; }
    const quern::containers::Array& tweens() const { return m_tweens; }

private:
    static void arriveAtCounter(void* unused, void* userData);
    static void arriveAtSavePoint(void* unused, void* userData);

    void moveCollectiblesToWorldSpace(quern::entity::World& world);
    void acquireCounterTexture();
    // The plane z = D the flights end on, D from the render camera's view.
    f32 renderDepthPlane();
    // Where the ray through the slot meets the plane z = depth; false when it
    // runs parallel to it or meets it behind the eye.
    static bool hitDepthPlane(const f32 slot[2], const quern::math::Matrix4& view,
        const quern::math::Matrix4& projection, f32 depth, quern::math::Vector3& hit);
    void setSubtreeActive(EntityHandle entity, bool active, quern::entity::World& world);
    EntityHandle instantiateAt(EntityHandle prefab, EntityHandle at, quern::entity::World& world);
    // A tween of `target` towards `*end`, or towards `fixedEnd` when `end` is
    // null.
    Tween& startTween(f32* target, const f32* end, f32 fixedEnd, EaseFunction ease, f32 duration,
        TweenCallback onComplete = nullptr, void* userData = nullptr);

    AppContext* m_context;
    EntityHandle m_collected[kMaxCollected] {};
    u64 m_collectedListCount = 0;
    CollectibleIcon m_icons[kMaxIcons] {};
    u64 m_iconCount = 0;
    f32 m_iconSize[2] = { 0.0f, 0.0f };
    quern::containers::Array m_tweens { sizeof(Tween), alignof(Tween) };
    i32 m_collectedCount = 0;
    u64 m_collectiblesInWorld = 0;
    u32 m_counterTexture = 0; // a handle of the overlay's texture cache
    u64 m_counterTextureId = 0;
};

} // namespace harmonize
