#include "harmonize/systems/InputSystem.h"

#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/components/Components.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/utils/AppEventQueue.h"
#include "quern/entity/InputRecordingSystem.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "runtime/quern/input/ScriptedInputBackEnd.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace harmonize {
namespace {

using namespace quern::input;
using quern::math::Quaternion;
using quern::math::Vector3;

constexpr quern::u8 kKeyboard = 0;
constexpr quern::u8 kPad = 2;

Vector3 rotate(const Quaternion& q, const Vector3& v)
{
    const quern::math::Matrix3 r = q.toMatrix3();
    return { r.m[0] * v.x + r.m[3] * v.y + r.m[6] * v.z, r.m[1] * v.x + r.m[4] * v.y + r.m[7] * v.z,
        r.m[2] * v.x + r.m[5] * v.y + r.m[8] * v.z };
}

void expectNear(const Vector3& a, const Vector3& b)
{
    EXPECT_NEAR(a.x, b.x, 1e-5f);
    EXPECT_NEAR(a.y, b.y, 1e-5f);
    EXPECT_NEAR(a.z, b.z, 1e-5f);
}

// A world with the input system and the engine's recording system behind it,
// over a scripted keyboard, mouse and controller.
class InputSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings::resetToDefaults();
        Settings::Replay.enabled = false;
        parseBindings(Settings::Input);
        switcher.bindContexts();
        for (const i32 kind : { kInputDeviceKeyboard, kInputDeviceMouse, kInputDeviceGameController }) {
            quern::testing::ScriptedDevice device;
            device.kind = kind;
            backEnd.devices.push_back(device);
        }
        manager.refreshDeviceRecords();
        switcher.attach(manager);
        context.services.inputManager = &manager;
        context.services.inputSwitcher = &switcher;
        context.services.appEventQueue = &events.queue;
    }
    void TearDown() override { Settings::resetToDefaults(); }

    void build()
    {
        system = new InputSystem(context);
        context.input = system;
        context.inputRecording = new quern::entity::InputRecordingSystem();
        scene.addSystem(system);
        scene.addSystem(context.inputRecording);
    }
    void start()
    {
        build();
        scene.start();
    }
    // Events for the next fixed tick, and the tick.
    void tick() { backEnd.pollEvents(manager.getEventQueue()), scene.tick(); }
    void key(i32 code, bool down = true) { backEnd.queue(down ? KeyDown : KeyUp, code, 0, 0, kKeyboard); }
    void stick(i32 axis, i32 value) { backEnd.queue(ControllerAxis, axis, value, 0, kPad); }

    std::optional<ShowMenuEvent> takeShowMenu()
    {
        ShowMenuEvent event {};
        if (events.queue.popByType(event, storedTypeOf(AppEventType::ShowMenu)))
            return event;
        return std::nullopt;
    }

    quern::testing::ScriptedInputBackEnd backEnd;
    InputManager manager { &backEnd };
    InputSwitcher switcher;
    AppEventQueueStorage events;
    AppContext context;
    testing::Scenario scene;
    InputSystem* system = nullptr;
};

TEST_F(InputSystemTest, MovementFollowsKeysAndTheStick)
{
    struct Case {
        const char* name;
        std::vector<i32> keys;
        i32 stickX;
        i32 stickY;
        f32 x;
        f32 y;
    };
    const Case cases[] = {
        { "nothing", {}, 0, 0, 0.0f, 0.0f },
        { "left", { kKeyLeft }, 0, 0, -1.0f, 0.0f },
        { "right by letter", { 'd' }, 0, 0, 1.0f, 0.0f },
        { "left and right", { 'a', kKeyRight }, 0, 0, 0.0f, 0.0f },
        { "up", { kKeyUp }, 0, 0, 0.0f, 1.0f },
        { "down", { 's' }, 0, 0, 0.0f, -1.0f },
        { "stick left and up", {}, -20000, -20000, -1.0f, 1.0f },
        { "up held, stick down", { 'w' }, 0, 30000, 0.0f, 0.0f },
        { "right held, stick left", { 'd' }, -30000, 0, 0.0f, 0.0f },
    };
    start();
    for (const Case& c : cases) {
        for (const i32 code : c.keys)
            key(code);
        stick(0, c.stickX);
        stick(1, c.stickY);
        tick();
        EXPECT_EQ(system->move().x, c.x) << c.name;
        EXPECT_EQ(system->move().y, c.y) << c.name;
        for (const i32 code : c.keys)
            key(code, false);
        stick(0, 0);
        stick(1, 0);
        tick();
    }
}

TEST_F(InputSystemTest, MovementKeepsItsValueWhileAnotherStateIsOnTop)
{
    start();
    key(kKeyLeft);
    tick();
    switcher.pushState(kInputStateMenu);
    key(kKeyLeft, false);
    key(kKeyRight);
    tick();
    EXPECT_EQ(system->move().x, -1.0f);
}

TEST_F(InputSystemTest, EscapeAsksForTheMenuAndItsPause)
{
    start();
    key(kKeyEscape);
    tick();
    const auto show = takeShowMenu();
    ASSERT_TRUE(show);
    EXPECT_EQ(show->show, 1);
    EXPECT_EQ(show->pauseLevel, 1);

    context.paused = 1;
    switcher.pushState(kInputStateMenu);
    key(kKeyEscape);
    tick();
    const auto hide = takeShowMenu();
    ASSERT_TRUE(hide);
    EXPECT_EQ(hide->show, 0);
    EXPECT_EQ(hide->pauseLevel, 1);

    switcher.pushState(kInputStateMenuWaiting);
    key(kKeyEscape);
    tick();
    EXPECT_FALSE(takeShowMenu()) << "the key-binding wait has no Pause";
}

TEST_F(InputSystemTest, AnInactiveSystemLeavesTheInputForTheActiveOne)
{
    start();
    system->active = false;
    key(kKeyLeft);
    tick();
    EXPECT_EQ(system->move().x, 0.0f);
    system->active = true;
    tick();
    EXPECT_EQ(system->move().x, -1.0f);
}

TEST_F(InputSystemTest, AStartedWorldReturnsTheSwitcherToTheGame)
{
    build();
    switcher.pushState(kInputStateMenu);
    switcher.pushState(kInputStateMenuWaiting);
    scene.start();
    EXPECT_EQ(switcher.stackDepth(), 1);
    EXPECT_TRUE(switcher.context(kInputStateGame).enabled);
    EXPECT_TRUE(system->active);
    EXPECT_TRUE(system->movementEnabled);
    quern::entity::SystemInfo info = quern::entity::makeDefaultSystemInfo("");
    system->describe(&info);
    EXPECT_STREQ(info.name, "InputSystem");
    EXPECT_EQ(info.kind, 1);
}

TEST_F(InputSystemTest, TheVerifiedEntityIsFoundByName)
{
    Settings::Replay.enabled = true;
    scene.add("first", { "Transform" });
    const quern::entity::EntityHandle player = scene.add("player", { "Transform" });
    Settings::Replay.verifyEntity = "player";
    start();
    EXPECT_EQ(context.inputRecording->trackedEntity, player);

    Settings::Replay.verifyEntity = "nobody";
    system->worldStarted(scene.world(), nullptr);
    EXPECT_EQ(context.inputRecording->trackedEntity.value, 0u);
}

TEST(FreeCameraRotation, YawTurnsRightAndPitchLooksDown)
{
    const Vector3 forward { 0.0f, 0.0f, 1.0f };
    expectNear(rotate(freeCameraRotation(0.0f, 0.0f), forward), forward);
    expectNear(rotate(freeCameraRotation(90.0f, 0.0f), forward), { 1.0f, 0.0f, 0.0f });
    expectNear(rotate(freeCameraRotation(90.0f, 0.0f), { 1.0f, 0.0f, 0.0f }), { 0.0f, 0.0f, -1.0f });
    expectNear(rotate(freeCameraRotation(0.0f, 90.0f), forward), { 0.0f, -1.0f, 0.0f });
    // Pitch about the camera's own X axis, after the yaw: the right axis stays level.
    const Quaternion both = freeCameraRotation(90.0f, 45.0f);
    const f32 h = std::sqrt(0.5f);
    expectNear(rotate(both, forward), { h, -h, 0.0f });
    expectNear(rotate(both, { 1.0f, 0.0f, 0.0f }), { 0.0f, 0.0f, -1.0f });
}

class FreeCameraTest : public InputSystemTest {
protected:
    void SetUp() override
    {
        InputSystemTest::SetUp();
        camera = scene.add("camera", { "CameraLens", "Transform", "GameCameraRig" });
        scene.set(camera, "Transform", "position", { 1.0, 2.0, 3.0 });
        start();
    }
    Transform& transform() { return scene.get<Transform>(camera); }

    quern::entity::EntityHandle camera;
};

TEST_F(FreeCameraTest, ToggledTwiceTheCameraIsBackWhereItStarted)
{
    system->toggleFreeCamera();
    EXPECT_EQ(switcher.topState(), kInputStateDebugCamera);
    backEnd.queue(MouseMotion, 30, 0, 0, 1);
    key('w');
    tick();
    key('w', false);
    EXPECT_GT(system->yaw, 0.0f);
    EXPECT_NE(transform().position.z, 3.0f);
    system->toggleFreeCamera();
    tick();
    EXPECT_EQ(switcher.topState(), kInputStateGame);
    expectNear(transform().position, { 1.0f, 2.0f, 3.0f });
    EXPECT_EQ(transform().rotation, Quaternion::identity());
    MouseModeChangeEvent mode {};
    ASSERT_TRUE(events.queue.popByType(mode, storedTypeOf(AppEventType::MouseModeChange)));
    EXPECT_EQ(mode.relative, 1);
    ASSERT_TRUE(events.queue.popByType(mode, storedTypeOf(AppEventType::MouseModeChange)));
    EXPECT_EQ(mode.relative, 0);
}

TEST_F(FreeCameraTest, ForwardMovesAlongTheViewAndShiftRunsFaster)
{
    system->toggleFreeCamera();
    system->yaw = 90.0f;
    key('w');
    tick();
    const f32 step = 50.0f * scene.world().deltaTime;
    expectNear(transform().position, { 1.0f + step, 2.0f, 3.0f });
    key(kKeyLeftShift);
    tick();
    expectNear(transform().position, { 1.0f + 11.0f * step, 2.0f, 3.0f });
}

TEST_F(FreeCameraTest, ACutsceneKeepsTheFreeCameraOff)
{
    switcher.pushState(kInputStateCutscene);
    quern::testing::LogCapture warnings(2);
    system->toggleFreeCamera();
    EXPECT_TRUE(warnings.contains("can't switch to free camera when cutscene is activ."));
    EXPECT_EQ(switcher.topState(), kInputStateCutscene);
    EXPECT_TRUE(events.queue.isEmpty());
}

TEST_F(FreeCameraTest, QuickSaveRestoresMovementAndTheStack)
{
    key(kKeyLeft);
    tick();
    system->saveQuickSave();
    key(kKeyLeft, false);
    tick();
    system->movementEnabled = false;
    switcher.pushState(kInputStateMenu);
    system->restoreQuickSave();
    EXPECT_EQ(system->move().x, -1.0f);
    EXPECT_TRUE(system->movementEnabled);
    EXPECT_EQ(switcher.topState(), kInputStateGame);
    EXPECT_TRUE(switcher.context(kInputStateGame).enabled);
}

} // namespace
} // namespace harmonize
