#pragma once
// Moves the one player character of a level world. Every fixed tick runs the
// player's stages in a fixed order (button, harmonize presses, cluster
// follow, jumps, velocity rules, the hand-over to the physics body, platform
// reactions, jump timers, the animation handler), reacts to each state change
// between the stages, and turns the changes into game events on the system's
// own queue, which it drains through the game event dispatch at the end of
// its tick.
#include "harmonize/events/GameEvents.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/statemachines/StateMachine.h"

#include "quern/entity/System.h"

namespace harmonize {

struct AppContext;

class MovementSystem final : public quern::entity::System {
public:
    static constexpr u64 kQueueBytes = 1024;

    explicit MovementSystem(AppContext& context);
    ~MovementSystem() override;

    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // The quick save keeps playerControl; the restore brings it back and puts
    // the player at the remembered save point.
    void saveSnapshot() { savedControl = playerControl; }
    void restoreSnapshot(quern::entity::World& world);

    // Places the player for a cutscene: falling from `position`, off any
    // cluster, at rest.
    void setScriptedTarget(const quern::math::Vector3& position);

    // The world step times the time scale: the step of every motion rule.
    f32 step(const quern::entity::World& world) const;

    GameEventQueue& eventQueue() { return m_queue; }
    const PlayerView& player() const { return m_player; }

    f32 timeScale = 1.0f;
    // Off while a cutscene drives the player: no hand-over to the body, no
    // deaths. savedControl is the quick save's copy.
    u8 savedControl = 1;
    u8 playerControl = 1;

private:
    void tickPlayer(const PlayerView& player, quern::entity::World& world);
    void react(const PlayerView& player, quern::entity::World& world);
    void harmonize(const PlayerView& player);
    void spawnDust(quern::entity::World& world, const PlayerView& player);
    void pushEvent(GameEventType type, const void* payload, u64 size);

    AppContext* m_context;
    StateMachine m_jumpButton { 1, 1, 0 };
    GameEventQueue m_queue;
    PlayerView m_player;
};

} // namespace harmonize
