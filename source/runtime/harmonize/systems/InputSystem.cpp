#include "harmonize/systems/InputSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/GameCameraSystem.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/debug/Log.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/entity/World.h"
#include "quern/input/InputManager.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <ostream>

namespace harmonize {
namespace {

using quern::entity::EntityHandle;
using quern::entity::World;

constexpr f32 kFreeCameraSpeed = 50.0f;
constexpr f32 kFreeCameraFastFactor = 10.0f;
constexpr f32 kFreeCameraTurnRate = 20.0f;

quern::entity::ComponentMask gameCameraMask()
{
    quern::entity::ComponentMask mask {};
    mask.set(CameraLens::kType);
    mask.set(Transform::kType);
    mask.set(GameCameraRig::kType);
    return mask;
}

EntityHandle findNamedEntity(World& world, const char* name)
{
    for (quern::u64 slot = 0; slot < world.getSlotCount(); ++slot) {
        if (world.getState(slot) == quern::entity::EntityState::Free)
            continue;
        const EntityHandle handle
            = EntityHandle::make(static_cast<quern::u16>(slot), world.getGeneration(slot));
        if (std::strcmp(world.getEntityName(handle), name) == 0)
            return handle;
    }
    return {};
}

quern::math::Vector3 worldBasisTimes(const Transform& transform, const quern::math::Vector3& v, World& world)
{
    quern::math::Matrix4 m = quern::math::Matrix4::identity();
    Transform::accumulateWorldMatrix(transform, m, EntityHandle {}, world);
    return m.transformVector(v);
}

} // namespace

quern::math::Quaternion freeCameraRotation(f32 yawDegrees, f32 pitchDegrees)
{
    constexpr f32 kRadians = std::numbers::pi_v<f32> / 180.0f;
    const quern::math::Quaternion yaw
        = quern::math::Quaternion::fromAxisAngle(yawDegrees * kRadians, { 0.0f, 1.0f, 0.0f });
    const quern::math::Quaternion pitch
        = quern::math::Quaternion::fromAxisAngle(pitchDegrees * kRadians, { 1.0f, 0.0f, 0.0f });
    return yaw * pitch;
}

InputSystem::InputSystem(AppContext& context)
    : m_context(&context)
    , m_inputManager(context.services.inputManager)
    , m_eventQueue(context.services.appEventQueue)
    , m_switcher(context.services.inputSwitcher)
    , m_paused(&context.paused)
{
    if (m_switcher)
        m_gameArrays = m_switcher->context(kInputStateGame).inputArrays();
}

// The recording system registers after this one, so it is looked up late.
quern::entity::InputRecordingSystem* InputSystem::recording() const { return m_context->inputRecording; }

void InputSystem::attach(quern::memory::Allocator*)
{
    if (!Settings::Replay.enabled || !recording() || !m_switcher)
        return;
    // Every world records the Game context from its first tick.
    recording()->inputs = &m_gameArrays;
    recording()->mode = quern::entity::InputRecordingSystem::Record;
    recording()->recorder.frameCounter = 0;
    recording()->player.reset();
    recording()->replay.frames.clear();
    recording()->replay.values.clear();
}

void InputSystem::detach(quern::memory::Allocator*)
{
    if (Settings::Replay.enabled && recording())
        recording()->inputs = nullptr;
}

void InputSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    movementEnabled = true;
    active = true;
    if (m_switcher)
        while (m_switcher->topState() != kInputStateGame)
            m_switcher->popState();
    const char* verify = Settings::Replay.verifyEntity;
    if (Settings::Replay.enabled && recording() && verify && verify[0] != '\0') {
        recording()->trackedEntity = findNamedEntity(world, verify);
        recording()->mismatchCallback = nullptr;
    }
}

void InputSystem::fixedTick(quern::entity::UpdateContext* context, World& world)
{
    if (!active)
        return;
    if (m_inputManager)
        m_inputManager->update();
    const bool replays = Settings::Replay.enabled && recording();
    if (replays)
        recording()->replayFrame(world);
    if (!m_switcher)
        return;
    updateMove();
    moveFreeCamera(*context, world, world.deltaTime);
    postPause();
    if (replays)
        recording()->recordFrame(world);
}

void InputSystem::updateMove()
{
    if (m_switcher->topState() != kInputStateGame || !movementEnabled)
        return;
    const quern::input::InputContext& game = m_switcher->context(kInputStateGame);
    const quern::input::StickVector stick = game.getStickVector();
    f32 x = game.isStateHeld(kHeldLeft) || stick.x < 0.0f ? -1.0f : 0.0f;
    if (game.isStateHeld(kHeldRight) || stick.x > 0.0f)
        x += 1.0f;
    f32 y = game.isStateHeld(kHeldUp) || stick.y < 0.0f ? 1.0f : 0.0f;
    if (game.isStateHeld(kHeldDown) || stick.y > 0.0f)
        y -= 1.0f;
    m_move = { x, y };
}

void InputSystem::moveFreeCamera(quern::entity::UpdateContext& context, World& world, f32 dt)
{
    // States 0 to 3: forward, back, left, right; state 4 runs faster.
    const quern::input::InputContext& camera = m_switcher->context(kInputStateDebugCamera);
    f32 speed = kFreeCameraSpeed * dt;
    if (camera.isStateHeld(4))
        speed *= kFreeCameraFastFactor;
    quern::math::Vector3 t {};
    if (camera.isStateHeld(0))
        t.z += speed;
    if (camera.isStateHeld(1))
        t.z -= speed;
    if (camera.isStateHeld(2))
        t.x -= speed;
    if (camera.isStateHeld(3))
        t.x += speed;
    yaw += kFreeCameraTurnRate * dt * static_cast<f32>(camera.getAxisValue(0));
    pitch += kFreeCameraTurnRate * dt * static_cast<f32>(camera.getAxisValue(1));

    const quern::entity::ComponentMask mask = gameCameraMask();
    for (quern::u64 slot = 0; slot < context.slotCount; ++slot) {
        if (context.states[slot] != quern::entity::EntityState::Active || !context.enabledMasks[slot].containsAll(mask))
            continue;
        Transform& transform = *static_cast<Transform*>(world.getComponent(slot, Transform::kType));
        if (m_captureCamera) {
            m_savedCameraTransform = transform;
            m_captureCamera = false;
        }
        if (m_restoreCamera) {
            transform = m_savedCameraTransform;
            m_restoreCamera = false;
        }
        if (!camera.enabled)
            continue;
        transform.rotation = freeCameraRotation(yaw, pitch);
        transform.position += worldBasisTimes(transform, t, world);
    }
}

void InputSystem::postPause()
{
    if (m_switcher->topContext().getActionCount(kActionPause) <= 0 || !m_eventQueue)
        return;
    m_eventQueue->postShowMenu({ static_cast<quern::u8>(*m_paused == 0 ? 1 : 0), 1 });
}

void InputSystem::describe(quern::entity::SystemInfo* info)
{
    System::describe(info);
    info->name = "InputSystem";
    info->kind = 1;
}

void InputSystem::toggleFreeCamera()
{
    if (!m_switcher)
        return;
    const i32 top = m_switcher->topState();
    if (top == kInputStateCutscene) {
        QUERN_LOG(2) << "can't switch to free camera when cutscene is activ." << std::endl;
        return;
    }
    bool on = false;
    if (top == kInputStateDebugCamera) {
        m_restoreCamera = true;
        m_switcher->popState();
    } else {
        yaw = pitch = 0.0f;
        m_captureCamera = true;
        on = m_switcher->pushState(kInputStateDebugCamera);
        if (!on)
            m_captureCamera = false;
    }
    // The game camera stands still while the free camera runs.
    if (m_context->gameCamera)
        m_context->gameCamera->setStarted(!on);
    if (m_eventQueue)
        m_eventQueue->postMouseModeChange({ static_cast<quern::u8>(on ? 1 : 0), 0 });
}

void InputSystem::saveQuickSave()
{
    if (m_switcher)
        m_switcher->saveStates();
    m_savedMove = m_move;
    m_savedMovementEnabled = movementEnabled;
    m_savedActive = active;
}

void InputSystem::restoreQuickSave()
{
    if (m_switcher)
        m_switcher->restoreStates();
    m_move = m_savedMove;
    movementEnabled = m_savedMovementEnabled;
    active = m_savedActive;
}

} // namespace harmonize
