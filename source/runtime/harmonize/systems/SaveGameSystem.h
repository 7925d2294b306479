#pragma once
// The in-level checkpoint. On request it takes a snapshot of the whole level
// world and lets every stateful system keep a copy of its own state; on
// LoadSaveGame it puts both back, so the player continues from there (a death
// ends in such a restore). Save points and cutscenes request checkpoints, and
// the level requests one itself on its second fixed tick. With the Development
// setting persistentQuickSave the snapshot also goes to the user file
// quickSaveFile and is read back when the same level starts again.
//
// Saves and restores run on the main thread, from the app event dispatcher,
// between frames. One instance lives in each level world.

#include "quern/entity/EntityHandle.h"
#include "quern/entity/System.h"
#include "quern/entity/WorldSnapshot.h"

namespace quern::io {
class HomeFileSystem;
}

namespace harmonize {

using quern::i32;
using quern::u32;

class AppEventQueue;
struct AppContext;

class SaveGameSystem final : public quern::entity::System {
public:
    // `files` holds the persistent quick save; null: the process-wide one.
    explicit SaveGameSystem(AppContext& context, quern::io::HomeFileSystem* files = nullptr);
    ~SaveGameSystem() override;

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void worldStopped(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // A checkpoint that no save point asked for: posts SaveProgress.
    void requestSave();
    // SaveProgress: nothing unless the player is alive.
    void createQuickSave(quern::entity::World& world);
    // LoadSaveGame, when holdsQuickSave().
    void restoreQuickSave(quern::entity::World& world);

    bool holdsQuickSave() const { return m_snapshot.holdsStore(); }
    // The player found at world start; 0 when the level has none.
    quern::entity::EntityHandle player() const { return m_player; }

    // The save point that asks for the next save (its entity handle), 0 for
    // any other save; written by the save points.
    u32 lastSavePoint = 0;
    // lastSavePoint as it was at the last save; the restore asks that save
    // point to show the respawn.
    u32 savedSavePoint = 0;

private:
    void saveSystemStates();
    void restoreSystemStates(quern::entity::World& world);

    AppContext& m_context;
    AppEventQueue* m_eventQueue;
    quern::io::HomeFileSystem* m_files;
    quern::memory::Allocator* m_allocator = nullptr; // the level's, from world start to world stop
    quern::entity::WorldSnapshot m_snapshot;
    i32 m_tickCount = 0;
    quern::entity::EntityHandle m_player;
};

} // namespace harmonize
