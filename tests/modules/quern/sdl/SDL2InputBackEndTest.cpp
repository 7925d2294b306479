#include "SDL2TestSupport.h"
#include "runtime/quern/graphics/DisplayTestSupport.h"

#include "quern/input/InputListener.h"
#include "quern/input/InputManager.h"
#include "quern/input/InputOrigin.h"
#include "quern/sdl/SDL2Display.h"
#include "quern/sdl/SDL2InputBackEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using input::InputEvent;
using sdl::SDL2InputBackEnd;

// What the back end pushed, in ring order: input events and device changes alike.
struct RingRecord {
    u16 type;
    InputEvent event; // device changes fill type and device only
};

std::vector<RingRecord> drain(containers::EventQueue& ring)
{
    std::vector<RingRecord> records;
    while (!ring.isEmpty()) {
        containers::EventHeader* header = ring.front();
        RingRecord record { header->type, {} };
        if (input::isDeviceEventType(header->type)) {
            input::InputDeviceEvent change;
            std::memcpy(&change, containers::EventQueue::payload(header), sizeof change);
            record.event.type = change.type;
            record.event.device = change.device;
        } else {
            std::memcpy(&record.event, containers::EventQueue::payload(header), sizeof record.event);
        }
        records.push_back(record);
        ring.pop();
    }
    return records;
}

u64 countOf(const std::vector<RingRecord>& records, u16 type)
{
    u64 n = 0;
    for (const RingRecord& record : records)
        n += record.type == type;
    return n;
}

struct Recorder final : input::InputListener {
    void onInputEvent(const InputEvent& event, input::InputManager&) override { events.push_back(event); }
    std::vector<InputEvent> events;
};

// Polls until `events` holds `count` events or a second has passed.
void pollUntil(SDL2InputBackEnd& input, input::InputManager& manager, std::vector<InputEvent>& events, u64 count)
{
    for (int attempt = 0; attempt < 50 && events.size() < count; ++attempt) {
        input.pollEvents(manager.getEventQueue());
        manager.update();
        if (events.size() < count)
            sdlSymbol<void (*)(Uint32)>("SDL_Delay")(20);
    }
}

class SDL2Input : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        sdl::initSDL2(sdl::kInputSubsystems);
        ring.reserve(input::InputManager::kRingSize);
    }
    void TearDown() override
    {
        backEnd.reset();
        sdl::shutdownSDL();
        unsetenv("SDL_VIDEODRIVER");
    }
    SDL2InputBackEnd& openBackEnd(graphics::Display* sink = nullptr)
    {
        backEnd = std::make_unique<SDL2InputBackEnd>(sink);
        input::InputBackEndStatus status { 1, "unset" };
        backEnd->open(status);
        EXPECT_EQ(status.code, 0);
        EXPECT_STREQ(status.message, "");
        return *backEnd;
    }
    std::vector<RingRecord> poll()
    {
        backEnd->pollEvents(ring);
        return drain(ring);
    }

    containers::EventQueue ring;
    std::unique_ptr<SDL2InputBackEnd> backEnd;
    VirtualPads pads;
};

TEST_F(SDL2Input, WithoutJoysticksOnlyKeyboardAndMouseAreDevices)
{
    SDL2InputBackEnd& input = openBackEnd();
    EXPECT_EQ(input.getDeviceCount(), 2);
    input::InputDeviceInfo info;
    input.getDeviceInfo(0, info);
    EXPECT_EQ(info.kind, input::kInputDeviceKeyboard);
    EXPECT_STREQ(info.name, "Keyboard");
    input.getDeviceInfo(1, info);
    EXPECT_EQ(info.kind, input::kInputDeviceMouse);
    EXPECT_STREQ(info.name, "Mouse");
    EXPECT_STREQ(input.getStatusText(), "");
}

TEST_F(SDL2Input, ConnectedControllerIsAddedOnceAndRemovedOnce)
{
    SDL2InputBackEnd& input = openBackEnd();
    LogCatcher information(3);
    const i32 index = pads.attachController("Quern test pad");
    std::vector<RingRecord> records = poll();
    ASSERT_EQ(countOf(records, input::DeviceAdded), 1u);
    EXPECT_EQ(records[0].event.device, 2);
    EXPECT_EQ(information.count("SDL joystick #0: Quern test pad"), 1u);
    EXPECT_EQ(information.count("Using GameController API for joystick 0"), 1u);

    EXPECT_EQ(input.getDeviceCount(), 3);
    input::InputDeviceInfo info;
    input.getDeviceInfo(2, info);
    EXPECT_EQ(info.kind, input::kInputDeviceGameController);
    EXPECT_STREQ(info.name, "Quern test pad");
    ASSERT_NE(info.mapping, nullptr);
    EXPECT_FLOAT_EQ(info.mapping->axisThreshold, 0.5f);
    EXPECT_NE(std::count(info.guid, info.guid + 16, 0), 16);

    pads.detach(index);
    records = poll();
    ASSERT_EQ(countOf(records, input::DeviceRemoved), 1u);
    EXPECT_EQ(countOf(records, input::DeviceAdded), 0u);
    EXPECT_EQ(records.back().event.device, 2);
    // The freed slot keeps its device number, now without a device behind it.
    EXPECT_EQ(input.getDeviceCount(), 3);
    input.getDeviceInfo(2, info);
    EXPECT_EQ(info.kind, input::kInputDeviceGameController);
    EXPECT_STREQ(info.name, "");
    EXPECT_EQ(info.mapping, nullptr);
}

TEST_F(SDL2Input, JoysticksPresentAtOpeningAreNotAddedAgainByTheirStartUpEvents)
{
    pads.attachController("already there");
    pads.attachJoystick();
    SDL2InputBackEnd& input = openBackEnd();
    EXPECT_EQ(input.getDeviceCount(), 4);
    EXPECT_NE(input.slot(0).controller, nullptr);
    EXPECT_EQ(input.slot(1).controller, nullptr);
    // The plain joystick's hat counts as four buttons after its own four.
    EXPECT_EQ(input.slot(1).hatButtonBase, 4);
    const std::vector<RingRecord> records = poll();
    EXPECT_EQ(countOf(records, input::DeviceAdded), 0u);
}

// SDL renumbers its devices when one leaves; a new pad must still get a slot.
TEST_F(SDL2Input, NewPadTakesTheFirstFreeSlotWhateverSDLsIndex)
{
    SDL2InputBackEnd& input = openBackEnd();
    const i32 first = pads.attachController("first");
    pads.attachController("second");
    poll();
    pads.detach(first);
    poll();
    pads.attachController("third"); // SDL's index 1, while slot 1 still holds "second"
    const std::vector<RingRecord> records = poll();
    ASSERT_EQ(countOf(records, input::DeviceAdded), 1u);
    EXPECT_EQ(records[0].event.device, 2);
    input::InputDeviceInfo info;
    input.getDeviceInfo(2, info);
    EXPECT_STREQ(info.name, "third");
    input.getDeviceInfo(3, info);
    EXPECT_STREQ(info.name, "second");

    // Each pad's input carries its own device number.
    VirtualPads::setButton(input.slot(0).joystick, SDL_CONTROLLER_BUTTON_A, true);
    VirtualPads::setButton(input.slot(1).joystick, SDL_CONTROLLER_BUTTON_B, true);
    u64 fromThird = 0;
    u64 fromSecond = 0;
    for (const RingRecord& record : poll()) {
        if (record.type != input::ControllerButtonDown)
            continue;
        fromThird += record.event.device == 2 && record.event.code == SDL_CONTROLLER_BUTTON_A;
        fromSecond += record.event.device == 3 && record.event.code == SDL_CONTROLLER_BUTTON_B;
    }
    EXPECT_EQ(fromThird, 1u);
    EXPECT_EQ(fromSecond, 1u);
}

TEST_F(SDL2Input, APadBeyondTheEighthSlotOpensNothing)
{
    SDL2InputBackEnd& input = openBackEnd();
    for (int i = 0; i < 9; ++i)
        pads.attachJoystick();
    const std::vector<RingRecord> records = poll();
    EXPECT_EQ(countOf(records, input::DeviceAdded), 8u);
    EXPECT_EQ(input.getDeviceCount(), 10);
    for (u32 slot = 0; slot < SDL2InputBackEnd::kSlotCount; ++slot)
        EXPECT_EQ(input.slot(slot).device, slot + 2);
    input::InputDeviceInfo info;
    input.getDeviceInfo(200, info);
    EXPECT_EQ(info.kind, input::kInputDeviceGameController);
    EXPECT_STREQ(info.name, "");
}

// SDL button number -> the engine button the game-controller layout makes of it.
struct ButtonCase {
    i32 sdlButton;
    i32 engineButton;
};

TEST_F(SDL2Input, EveryControllerButtonAndAxisReachesListenersOnceTranslated)
{
    using Mapping = input::GameControllerMapping;
    SDL2InputBackEnd& input = openBackEnd();
    pads.attachController("pad");
    input::InputManager manager(&input);
    Recorder recorder;
    manager.addListener(&recorder);
    input.pollEvents(manager.getEventQueue());
    manager.update();
    // At rest the controller reports nothing; its raw trigger (-32768 as a
    // joystick axis) must not come through.
    for (const InputEvent& event : recorder.events)
        EXPECT_NE(event.type, input::ControllerAxis) << event.code << " " << event.value;
    recorder.events.clear();

    SDL_Joystick* joystick = input.slot(0).joystick;
    const ButtonCase buttons[] = {
        { 0, Mapping::A },
        { 1, Mapping::B },
        { 2, Mapping::X },
        { 3, Mapping::Y },
        { 4, Mapping::Back },
        { 5, Mapping::Guide },
        { 6, Mapping::Start },
        { 7, Mapping::LeftStick },
        { 8, Mapping::RightStick },
        { 9, Mapping::LeftShoulder },
        { 10, Mapping::RightShoulder },
        { 11, Mapping::DPadUp },
        { 12, Mapping::DPadDown },
        { 13, Mapping::DPadLeft },
        { 14, Mapping::DPadRight },
    };
    for (const ButtonCase& c : buttons) {
        SCOPED_TRACE(c.sdlButton);
        VirtualPads::setButton(joystick, c.sdlButton, true);
        input.pollEvents(manager.getEventQueue());
        VirtualPads::setButton(joystick, c.sdlButton, false);
        // SDL holds back a guide button released at once for a quarter second.
        pollUntil(input, manager, recorder.events, 2);
        ASSERT_EQ(recorder.events.size(), 2u);
        EXPECT_EQ(recorder.events[0].type, input::ControllerButtonDown);
        EXPECT_EQ(recorder.events[1].type, input::ControllerButtonUp);
        for (const InputEvent& event : recorder.events) {
            EXPECT_EQ(event.code, c.engineButton);
            EXPECT_EQ(event.device, 2);
        }
        recorder.events.clear();
    }
    for (i32 axis = 0; axis < Mapping::AxisCount; ++axis) {
        SCOPED_TRACE(axis);
        VirtualPads::setAxis(joystick, axis, 30000);
        pollUntil(input, manager, recorder.events, 1);
        input.pollEvents(manager.getEventQueue());
        manager.update();
        // SDL may first report the axis's resting value; the new position
        // comes once, from the controller path only.
        ASSERT_FALSE(recorder.events.empty());
        u64 moved = 0;
        for (const InputEvent& event : recorder.events) {
            EXPECT_EQ(event.type, input::ControllerAxis);
            EXPECT_EQ(event.code, axis);
            EXPECT_GE(event.value, 0);
            moved += event.value > 0;
        }
        EXPECT_EQ(moved, 1u);
        recorder.events.clear();
    }
}

TEST_F(SDL2Input, PlainJoystickButtonsAndAxesPassWithTheirOwnNumbers)
{
    SDL2InputBackEnd& input = openBackEnd();
    pads.attachJoystick();
    poll();
    VirtualPads::setButton(input.slot(0).joystick, 3, true);
    VirtualPads::setAxis(input.slot(0).joystick, 1, -20000);
    const std::vector<RingRecord> records = poll();
    ASSERT_EQ(countOf(records, input::ControllerButtonDown), 1u);
    ASSERT_GE(countOf(records, input::ControllerAxis), 1u);
    i32 lastAxisValue = 0;
    for (const RingRecord& record : records) {
        EXPECT_EQ(record.event.device, 2);
        if (record.type == input::ControllerButtonDown) {
            EXPECT_EQ(record.event.code, 3);
        } else if (record.type == input::ControllerAxis) {
            EXPECT_EQ(record.event.code, 1);
        }
        lastAxisValue = record.type == input::ControllerAxis ? record.event.value : lastAxisValue;
    }
    EXPECT_EQ(lastAxisValue, -20000);
}

TEST_F(SDL2Input, EventsOfARemovedPadAreDropped)
{
    SDL2InputBackEnd& input = openBackEnd();
    const i32 index = pads.attachJoystick();
    poll();
    const SDL_JoystickID instanceId = input.slot(0).instanceId;
    pads.detach(index);
    // An axis event of the pad that SDL still had queued behind its removal.
    SDL_Event late {};
    late.type = SDL_JOYAXISMOTION;
    late.jaxis.which = instanceId;
    late.jaxis.value = 12345;
    sdlSymbol<int (*)(SDL_Event*)>("SDL_PushEvent")(&late);
    const std::vector<RingRecord> records = poll();
    EXPECT_EQ(countOf(records, input::DeviceRemoved), 1u);
    EXPECT_EQ(countOf(records, input::ControllerAxis), 0u);
}

TEST_F(SDL2Input, RumbleWithoutForceFeedbackDoesNothing)
{
    SDL2InputBackEnd& input = openBackEnd();
    pads.attachController("no motors");
    poll();
    EXPECT_FALSE(input.slot(0).rumbleSupported);
    EXPECT_EQ(input.slot(0).haptic, nullptr);
    for (const u8 device : { 0, 1, 2, 3, 9, 255 }) {
        input.rumble(device, 65535, 100);
        input.rumble(device, 0, 0);
    }
    EXPECT_EQ(countOf(poll(), input::DeviceRemoved), 0u);
}

TEST_F(SDL2Input, OriginsFollowTheDeviceKind)
{
    SDL2InputBackEnd& input = openBackEnd();
    pads.attachController("origins");
    poll();
    EXPECT_EQ(input.getInputOrigin(0, input::KeyDown, 'a'), input::keyCodeToInputOrigin('a'));
    EXPECT_EQ(input.getInputOrigin(1, input::MouseButtonDown, 0), input::InputOrigin::Unknown);
    const input::InputOrigin a
        = input::getArchetypeInputOrigin(input::kArchetypeXbox360, input::ControllerButtonDown, 0);
    EXPECT_NE(a, input::InputOrigin::Unknown);
    EXPECT_EQ(input.getInputOrigin(2, input::ControllerButtonDown, 0), a);
    // A free slot has no mapping: it reads as the common layout.
    EXPECT_EQ(input.getInputOrigin(5, input::ControllerButtonDown, 0), a);
}

TEST_F(SDL2Input, FullRingDropsEventsWithAnError)
{
    openBackEnd();
    containers::EventQueue small;
    small.reserve(64);
    auto pushEvent = sdlSymbol<int (*)(SDL_Event*)>("SDL_PushEvent");
    for (int i = 0; i < 10; ++i) {
        SDL_Event event {};
        event.type = SDL_MOUSEMOTION;
        event.motion.x = i;
        pushEvent(&event);
    }
    LogCatcher errors(1);
    backEnd->pollEvents(small);
    const std::vector<RingRecord> kept = drain(small);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), 10u);
    EXPECT_EQ(errors.count("Input queue exhausted"), 10u - kept.size());
    EXPECT_EQ(kept.front().event.code, 0);
}

// The display unloads the library when it goes; a back end deleted after it
// must not call into the unloaded library for its joysticks.
TEST_F(SDL2Input, BackEndDeletedAfterTheLibraryWasUnloadedCallsNothing)
{
    openBackEnd();
    pads.attachJoystick();
    poll();
    ASSERT_NE(backEnd->slot(0).joystick, nullptr);
    sdl::shutdownSDL();
    backEnd.reset();
}

TEST(SDL2Scancodes, TableGivesEngineKeyCodes)
{
    const i32 cases[][2] = {
        { SDL_SCANCODE_A, 'a' },
        { SDL_SCANCODE_Z, 'z' },
        { SDL_SCANCODE_1, '1' },
        { SDL_SCANCODE_9, '9' },
        { SDL_SCANCODE_0, '0' },
        { SDL_SCANCODE_RETURN, 13 },
        { SDL_SCANCODE_ESCAPE, 27 },
        { SDL_SCANCODE_SPACE, 32 },
        { SDL_SCANCODE_BACKSLASH, 92 },
        { SDL_SCANCODE_SLASH, 47 },
        { SDL_SCANCODE_CAPSLOCK, 301 },
        { SDL_SCANCODE_F1, 282 },
        { SDL_SCANCODE_F12, 293 },
        { SDL_SCANCODE_PAUSE, 19 },
        { SDL_SCANCODE_DELETE, 127 },
        { SDL_SCANCODE_UP, 273 },
        { SDL_SCANCODE_KP_1, 257 },
        { SDL_SCANCODE_KP_9, 265 },
        { SDL_SCANCODE_KP_0, 256 },
        { SDL_SCANCODE_KP_PERIOD, 266 },
        { SDL_SCANCODE_KP_ENTER, 271 },
        { SDL_SCANCODE_F15, 296 },
        { SDL_SCANCODE_LCTRL, 306 },
        { SDL_SCANCODE_RGUI, 309 },
        // Keys without an engine code.
        { SDL_SCANCODE_APOSTROPHE, 0 },
        { SDL_SCANCODE_GRAVE, 0 },
        { SDL_SCANCODE_NONUSHASH, 0 },
        { SDL_SCANCODE_NUMLOCKCLEAR, 0 },
        { SDL_SCANCODE_F16, 0 },
        { 511, 0 },
        { 512, 0 },
        { -1, 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(SDL2InputBackEnd::keyCodeForScancode(c[0]), c[1]) << "scancode " << c[0];
}

TEST_F(SDL2Input, MouseEventsCarryPositionsOrDeltasAndKnownButtonsOnly)
{
    SDL2InputBackEnd& input = openBackEnd();
    SDL_Event motion {};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 100;
    motion.motion.y = 50;
    motion.motion.xrel = -3;
    motion.motion.yrel = 4;
    InputEvent out;
    ASSERT_TRUE(input.translate(motion, out));
    EXPECT_EQ(out.type, input::MouseMotion);
    EXPECT_EQ(out.device, 1);
    EXPECT_EQ(out.code, 100);
    EXPECT_EQ(out.value, 50);
    input.setRelativeMouseMode(true); // kept even where SDL refuses
    EXPECT_TRUE(input.relativeMouseMode());
    ASSERT_TRUE(input.translate(motion, out));
    EXPECT_EQ(out.code, -3);
    EXPECT_EQ(out.value, 4);
    input.setRelativeMouseMode(false);
    ASSERT_TRUE(input.translate(motion, out));
    EXPECT_EQ(out.code, 100);

    struct Case {
        u8 sdlButton;
        bool translated;
        i32 button;
    };
    const Case buttons[] = { { 1, true, 0 }, { 2, true, 1 }, { 3, true, 2 }, { 4, true, 3 }, { 5, true, 4 },
        { 6, false, 0 }, { 0, false, 0 } };
    for (const Case& c : buttons) {
        SDL_Event press {};
        press.type = SDL_MOUSEBUTTONDOWN;
        press.button.button = c.sdlButton;
        press.button.x = 7;
        press.button.y = 9;
        EXPECT_EQ(input.translate(press, out), c.translated) << int(c.sdlButton);
        if (c.translated) {
            EXPECT_EQ(out.type, input::MouseButtonDown);
            EXPECT_EQ(out.button, c.button);
            EXPECT_EQ(out.code, 7);
            EXPECT_EQ(out.value, 9);
        }
    }
    SDL_Event wheel {};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = -2;
    wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    ASSERT_TRUE(input.translate(wheel, out));
    EXPECT_EQ(out.type, input::MouseWheel);
    EXPECT_EQ(out.code, -2);
    EXPECT_EQ(out.button, -2);
    EXPECT_EQ(out.value, static_cast<i32>(SDL_MOUSEWHEEL_FLIPPED));
}

TEST_F(SDL2Input, QuitResizeAndFocusReachTheDisplay)
{
    RecordingBackEnd device;
    sdl::SDL2Display display(&device, graphics::GraphicsBackEndVersion::Null);
    graphics::DisplayConfiguration configuration;
    display.openWithVideoMode(makeMode(320, 240), configuration);
    std::unique_ptr<input::InputBackEnd> created(display.createInputBackEnd());
    ASSERT_NE(created, nullptr);
    input::InputBackEndStatus status;
    created->open(status);
    RecordingListener listener;
    display.addListener(&listener);
    auto pushEvent = sdlSymbol<int (*)(SDL_Event*)>("SDL_PushEvent");

    auto pushWindowEvent = [&](Uint8 kind, i32 a, i32 b) {
        SDL_Event event {};
        event.type = SDL_WINDOWEVENT;
        event.window.event = kind;
        event.window.data1 = a;
        event.window.data2 = b;
        pushEvent(&event);
    };
    pushWindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 400, 300);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST, 0, 0);
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0);
    created->pollEvents(ring);
    ASSERT_EQ(listener.events.size(), 3u);
    EXPECT_EQ(listener.events[0].type, graphics::DisplayEvent::Resized);
    EXPECT_EQ(listener.events[0].a, 400);
    EXPECT_EQ(display.currentMode().height, 300);
    EXPECT_EQ(listener.events[1].type, graphics::DisplayEvent::Deactivated);
    EXPECT_EQ(listener.events[2].type, graphics::DisplayEvent::Activated);

    SDL_Event quit {};
    quit.type = SDL_QUIT;
    pushEvent(&quit);
    created->pollEvents(ring);
    EXPECT_FALSE(display.isOpen());
    display.removeListener(&listener);
    created.reset();
}

} // namespace
} // namespace quern::test
