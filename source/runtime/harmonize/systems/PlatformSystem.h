#pragma once
// Race platforms: a platform of the race opposite to the player's hides when
// the player comes within its range. It plays its "hide" clip and turns into a
// non-solid trigger on the hidden layer, stays so for its hidden time (or
// while the player is inside it, or while it is still asked to hide), then
// plays "show" and is solid again. Each sequence is a fixed-tick coroutine;
// a platform runs at most one at a time. A platform whose sensor hides it
// when the player is away hides whatever the races.
//
// At world start the system also shows every entity's race on its race look.

#include "harmonize/components/Components.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;
class CoroutineSystem;

class PlatformSystem final : public quern::entity::System {
public:
    explicit PlatformSystem(AppContext& context);

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Starts the platform's hide/show sequence. The player's stand-hide rule
    // calls it too, without the range test.
    static void startHideShow(EntityHandle platform, quern::entity::World& world, CoroutineSystem& coroutines);

    // After a quick-save restore: the plain platforms are solid and idle again,
    // and one the player was inside shows at once.
    void restoreSnapshot(quern::entity::World& world);

    // The player found at world start; 0 when the level has none.
    EntityHandle player() const { return m_player; }

private:
    AppContext* m_context;
    EntityHandle m_player;
};

} // namespace harmonize
