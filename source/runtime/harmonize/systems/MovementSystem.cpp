#include "harmonize/systems/MovementSystem.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/Settings.h"
#include "harmonize/components/PlaneMath.h"
#include "harmonize/extensions/AnimationHandlerExt.h"
#include "harmonize/extensions/DeathTriggerExt.h"
#include "harmonize/extensions/PlatformReactionExt.h"
#include "harmonize/extensions/PlayerClusterExt.h"
#include "harmonize/extensions/PlayerMotionExt.h"
#include "harmonize/extensions/Prefabs.h"
#include "harmonize/extensions/SnapboxClusterExt.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/statemachines/ButtonStateMachine.h"
#include "harmonize/statemachines/MovementStateMachine.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GizmoLineSystem.h"
#include "harmonize/systems/InputSystem.h"
#include "harmonize/systems/SaveGameSystem.h"

#include "quern/entity/World.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace harmonize {

using quern::entity::World;
using quern::math::Vector3;

namespace {

// The clusters the player stands on are named by handles whose index and
// generation say "some entity"; the rules re-check what they read.
bool hasCluster(const PlayerMovement& movement) { return isSomeEntity(movement.cluster); }

void resetPlayerMachines(PlayerMovement& movement)
{
    resetMachine(movement.movementState, FALLING, FALLING);
    resetMachine(movement.jumpMode, 2, 2);
}

const quern::input::InputContext* gameInput(AppContext& context)
{
    InputSwitcher* switcher = context.services.inputSwitcher;
    if (!switcher || switcher->topState() != kInputStateGame)
        return nullptr;
    const quern::input::InputContext& game = switcher->context(kInputStateGame);
    return game.enabled ? &game : nullptr;
}

} // namespace

MovementSystem::MovementSystem(AppContext& context)
    : m_context(&context)
{
    m_queue.reserve(kQueueBytes);
}

MovementSystem::~MovementSystem() = default;

void MovementSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "MovementSystem";
}

f32 MovementSystem::step(const World& world) const { return world.deltaTime * timeScale; }

void MovementSystem::pushEvent(GameEventType type, const void* payload, u64 size)
{
    // Grows a full queue: a lost state change would leave the animation and
    // the death rules behind the player.
    std::memcpy(m_queue.pushGrowing(static_cast<u16>(type), size), payload, size);
}

void MovementSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    while (m_queue.front())
        m_queue.pop();
    savedControl = 1;
    playerControl = 1;
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        if (world.getGeneration(index) == 0 || !world.getComponentMask(index).containsAll(kPlayerMask))
            continue;
        const PlayerView player = playerViewAt(world, index);
        PlayerMovement& movement = *player.movement;
        player.collider->trigger = 1;
        resetPlayerMachines(movement);
        resetMachine(movement.raceState, player.race->value, player.race->value);
        resetMachine(movement.facingState, 1, 1);
        clearClusterRecord(movement);
        movement.gravityDirection = { 0.0f, -1.0f };
        movement.brakeArmed = 0;
        movement.velocity = {};
        movement.gravityScale = movement.baseGravity;
        player.transform->position.z = 0.0f;
        const RaceChangedEvent event { player.race->value, player.entity.value, movement.touchingTrigger.value };
        pushEvent(GameEventType::RaceChanged, &event, sizeof event);
        m_player = player;
    }
}

void MovementSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    if (m_context->paused)
        return;
    for (u64 index = 0; index < world.getSlotCount(); ++index)
        if (world.getEnabledMask(index).containsAll(kPlayerMask))
            tickPlayer(playerViewAt(world, index), world);
    dispatchGameEvents(m_queue, world, *m_context);
}

void MovementSystem::harmonize(const PlayerView& player)
{
    PlayerMovement& movement = *player.movement;
    if (movement.harmonizeEnabled == 0)
        return;
    const i32 race = movement.raceState[kMachineState];
    if (race == 0 || race == 2)
        transition(movement.raceState, race == 0 ? 2 : 0);
    PlayerProfile::addToStat(m_context->services.platformServices, kStatHarmonizations, 1);
}

void MovementSystem::react(const PlayerView& player, World& world)
{
    PlayerMovement& movement = *player.movement;
    StateMachine& state = movement.movementState;
    if (takeChanged(state)) {
        const i32 now = state[kMachineState];
        const i32 previous = state[kMachinePrevious];
        const PlayerEvent event { now, player.entity.value };
        pushEvent(GameEventType::MovementStateChanged, &event, sizeof event);
        movement.coyoteTime = now == FALLING ? movement.jumpGraceTime : 0.0f;
        if (now == JUMPING)
            startJump(world, player, previous != FALLING, m_context->services.platformServices);
        if (isAirborne(now))
            clearClusterRecord(movement);
        if (hasCluster(movement))
            reactToPlatformUnderPlayer(world, *m_context, player, movement.cluster);
        if (isAirborne(previous) && !(previous == FALLING && now == JUMPING))
            land(world, movement);
        if (isGrounded(now)) {
            const bool standing = isStandingOnCluster(world, movement);
            if (standing && alignToCluster(world, player))
                correctBodyOnCluster(world, player);
            const Vec2f up = groundUpOf(world, movement);
            movement.liftOffset = { up.x, up.y, 0.0f };
        }
        if (isAirborne(previous))
            spawnDust(world, player);
        if (previous == WAITING && now == WALKING && movement.stepTimer <= 0.0f) {
            spawnDust(world, player);
            movement.stepTimer = movement.stepInterval;
        }
    }
    movement.jumpMode[kMachineChanged] = 0;
    bool raceEventPosted = false;
    if (takeChanged(movement.raceState)) {
        const i32 race = movement.raceState[kMachineState];
        const RaceChangedEvent event { race, player.entity.value, movement.touchingTrigger.value };
        pushEvent(GameEventType::RaceChanged, &event, sizeof event);
        raceEventPosted = true;
        if (hasCluster(movement))
            reactToPlatformUnderPlayer(world, *m_context, player, movement.cluster);
        player.race->value = race;
        spawnHarmonizeEffect(world, player);
    }
    if (takeChanged(movement.facingState) || raceEventPosted) {
        const PlayerEvent event { movement.facingState[kMachineState], player.entity.value };
        pushEvent(GameEventType::FacingChanged, &event, sizeof event);
    }
}

void MovementSystem::spawnDust(World& world, const PlayerView& player)
{
    if (isSomeEntity(player.movement->dustEffectPrefab))
        instantiatePrefabAt(player.movement->dustEffectPrefab, *player.transform, world);
}

void MovementSystem::tickPlayer(const PlayerView& player, World& world)
{
    PlayerMovement& movement = *player.movement;
    const f32 dt = step(world);
    const quern::input::InputContext* game = gameInput(*m_context);
    const bool jumpHeld = game && game->isStateHeld(kHeldJump);
    updateButton(m_jumpButton, jumpHeld);
    if (game)
        for (i32 presses = game->getActionCount(kActionHarmonize); presses > 0; --presses)
            harmonize(player);

    react(player, world);
    followCluster(world, player);
    react(player, world);
    react(player, world);

    if (isGrounded(movement.movementState[kMachineState]) && m_jumpButton[kMachineState] == Pressed)
        jump(movement.movementState);
    if (isGrounded(movement.movementState[kMachineState]))
        settleOnGround(movement);

    const Vec2f move = m_context->input ? Vec2f { m_context->input->move().x, m_context->input->move().y } : Vec2f {};
    react(player, world);
    updateFacing(movement);
    react(player, world);
    switch (movement.movementState[kMachineState]) {
    case WAITING:
    case WALKING: {
        recordGroundInput(movement, move);
        if (movement.movementState[kMachineState] == WALKING) {
            const Vec2f up = groundUpOf(world, movement);
            movement.liftOffset = { up.x, up.y, 0.0f };
        }
        applyCarrier(world, player, dt);
        break;
    }
    case FALLING:
    case JUMPING:
        applyAirVelocity(movement, move, m_jumpButton[kMachineState]);
        applyAirborneCarry(world, movement, dt);
        break;
    default:
        QUERN_FATAL("Unreachable code hit");
    }
    if (playerControl) {
        handOverVelocity(player);
        if (hasCluster(movement))
            recordCarrier(world, movement);
    }
    react(player, world);

    if (hasCluster(movement))
        reactToPlatformUnderPlayer(world, *m_context, player, movement.cluster);

    react(player, world);
    applyDirectionRule(movement, move, dt);
    applyJumpTriggers(movement, m_jumpButton[kMachineState], dt);
    AnimationHandler::tick(world, *m_context, player, dt);
}

void MovementSystem::update(quern::entity::UpdateContext*, World& world)
{
    if (!Settings::Development.gizmos || !m_context->gizmoLines)
        return;
    for (u64 index = 0; index < world.getSlotCount(); ++index)
        if (world.getEnabledMask(index).containsAll(kPlayerMask))
            drawSnapGizmos(*m_context->gizmoLines, world, playerViewAt(world, index));
}

void MovementSystem::setScriptedTarget(const Vector3& position)
{
    if (!m_player.movement)
        return;
    m_player.transform->position = position;
    PlayerMovement& movement = *m_player.movement;
    clearClusterRecord(movement);
    movement.velocity = {};
    movement.brakeArmed = 0;
    movement.gravityScale = movement.baseGravity;
    resetPlayerMachines(movement);
}

void MovementSystem::restoreSnapshot(World& world)
{
    while (m_queue.front())
        m_queue.pop();
    playerControl = savedControl;
    if (m_player.transform && isSomeEntity(m_player.movement->restoreEffectPrefab))
        instantiatePrefabAt(m_player.movement->restoreEffectPrefab, *m_player.transform, world);

    const EntityHandle respawn { m_context->saveGame ? m_context->saveGame->savedSavePoint : 0u };
    if (!isSomeEntity(respawn) || world.getSlotCount() == 0 || respawn.index() >= world.getSlotCount())
        return;
    const Transform* point = componentOf<Transform>(world, respawn);
    if (!point)
        return;
    const Vector3 at = worldPositionOf(world, *point);
    for (u64 index = 0; index < world.getSlotCount(); ++index) {
        if (world.getGeneration(index) == 0 || !world.getComponentMask(index).containsAll(kPlayerMask))
            continue;
        const PlayerView player = playerViewAt(world, index);
        PlayerMovement& movement = *player.movement;
        clearClusterRecord(movement);
        resetMachine(movement.movementState, FALLING, FALLING);
        Transform::setWorldPosition(*player.transform, Vector3 { at.x, at.y, 0.0f }, world);
        movement.velocity = {};
        movement.pushVelocity = {};
        player.body->velocity = Vector3 {};
        if (const SavePointTrigger* savePoint = componentOf<SavePointTrigger>(world, respawn))
            if (isSomeEntity(savePoint->respawnEffectPrefab))
                instantiatePrefabAt(savePoint->respawnEffectPrefab, *point, world);
    }
}

} // namespace harmonize
