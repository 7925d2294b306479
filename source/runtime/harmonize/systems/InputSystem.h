#pragma once
// The world system that feeds input into its world. Its fixed tick advances
// the input manager, drives replay playback and recording, turns the Game
// context into the player's movement axes, opens the menu on Pause and runs
// the development free camera. The App activates one input system a frame:
// the level world's while the menu is hidden, the menu world's while shown.

#include "harmonize/components/Transform.h"
#include "quern/entity/System.h"
#include "quern/input/InputReplay.h"

namespace quern::entity {
class InputRecordingSystem;
}
namespace quern::input {
class InputManager;
}

namespace harmonize {

using quern::f32;

class AppEventQueue;
class InputSwitcher;
struct AppContext;

struct MoveAxes {
    f32 x = 0.0f;
    f32 y = 0.0f;
};

class InputSystem final : public quern::entity::System {
public:
    explicit InputSystem(AppContext& context);

    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void worldStarted(quern::entity::World& world, quern::memory::Allocator* allocator) override;
    void fixedTick(quern::entity::UpdateContext* context, quern::entity::World& world) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Development key: the free camera on or off (never during a cutscene).
    void toggleFreeCamera();
    // The quick save's copy of the switcher's stack and of this system's state.
    void saveQuickSave();
    void restoreQuickSave();

    // The player's movement axes, each -1, 0 or 1.
    const MoveAxes& move() const { return m_move; }
    bool active = false;
    bool movementEnabled = false;
    f32 yaw = 0.0f; // degrees
    f32 pitch = 0.0f;

private:
    void updateMove();
    void moveFreeCamera(quern::entity::UpdateContext& context, quern::entity::World& world, f32 dt);
    void postPause();

    quern::entity::InputRecordingSystem* recording() const;

    AppContext* m_context;
    quern::input::InputManager* m_inputManager;
    AppEventQueue* m_eventQueue;
    InputSwitcher* m_switcher;
    quern::u8* m_paused;
    quern::input::InputArrays m_gameArrays;
    Transform m_savedCameraTransform {};
    quern::math::Vector3 m_freeMove {};
    MoveAxes m_move;
    MoveAxes m_savedMove;
    bool m_captureCamera = false;
    bool m_restoreCamera = false;
    bool m_savedMovementEnabled = false;
    bool m_savedActive = false;
};

// The free camera's rotation for its angles in degrees: the pitch about the
// camera's own X axis, then the yaw about the world's Y axis, so a positive
// yaw turns the view to the right and a positive pitch down.
quern::math::Quaternion freeCameraRotation(f32 yawDegrees, f32 pitchDegrees);

} // namespace harmonize
