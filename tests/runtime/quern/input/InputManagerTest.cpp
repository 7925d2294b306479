#include "quern/input/InputManager.h"

#include "ScriptedInputBackEnd.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputListener.h"
#include "quern/input/InputOrigin.h"
#include "quern/input/KeyCodes.h"
#include "quern/memory/DefaultAllocator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quern;
using namespace quern::input;
using quern::testing::ScriptedDevice;
using quern::testing::ScriptedInputBackEnd;

// Fills every block it hands out with a pattern, so that unset memory shows.
class PoisoningAllocator final : public memory::Allocator {
public:
    void* allocate(u64 size, u64 alignment) override
    {
        void* block = memory::getDefaultAllocator()->allocate(size, alignment);
        std::memset(block, 0xAB, size);
        return block;
    }
    void free(void* pointer) override { memory::getDefaultAllocator()->free(pointer); }
    void* tryResize(void*, u64) override { return nullptr; }
};

struct RecordingListener final : InputListener {
    void onInputEvent(const InputEvent& event, InputManager&) override { events.push_back(event); }
    std::vector<InputEvent> events;
};

struct RecordingDeviceListener final : InputDeviceListener {
    void onDeviceEvent(const InputDeviceEvent& event, InputManager& manager) override
    {
        events.push_back(event);
        recordsAtCall.push_back(manager.deviceRecordCount());
    }
    std::vector<InputDeviceEvent> events;
    std::vector<u64> recordsAtCall;
};

ScriptedDevice device(i32 kind, const char* name)
{
    ScriptedDevice d;
    d.kind = kind;
    d.name = name;
    return d;
}

// Keyboard, mouse and one pad, as the game's usual back end reports them.
struct ManagerTest : ::testing::Test {
    ManagerTest()
    {
        backEnd.devices = { device(kInputDeviceKeyboard, "Keyboard"), device(kInputDeviceMouse, "Mouse"),
            device(kInputDeviceGameController, "Pad") };
    }
    void pump()
    {
        backEnd.pollEvents(manager().getEventQueue());
        manager().update();
    }
    InputManager& manager()
    {
        if (!m_manager)
            m_manager = std::make_unique<InputManager>(&backEnd);
        return *m_manager;
    }
    ScriptedInputBackEnd backEnd;
    std::unique_ptr<InputManager> m_manager;
};

TEST_F(ManagerTest, EventsReachListenersAndContexts)
{
    InputContext context;
    context.bindAction(0, KeyDown, kKeySpace)
        .bindState(0, KeyDown, 'a')
        .bindControllerAxis(1, 0)
        .bindControllerAxis(2, 1);
    RecordingListener listener;
    manager().addContext(&context);
    manager().addListener(&listener);

    backEnd.queue(KeyDown, kKeySpace);
    backEnd.queue(KeyDown, 'a');
    backEnd.queue(KeyUp, kKeySpace);
    backEnd.queue(KeyDown, kKeySpace);
    backEnd.queue(ControllerAxis, 0, 32767, 0, 2);
    backEnd.queue(ControllerAxis, 1, -32768, 0, 2);
    pump();

    EXPECT_EQ(listener.events.size(), 6u);
    EXPECT_EQ(context.getActionCount(0), 2);
    EXPECT_TRUE(context.isStateHeld(0));
    EXPECT_EQ(context.getAxisValue(1), 32766); // after the 0.25 dead zone: (32767-8191)*32768/24577
    EXPECT_EQ(context.getAxisValue(2), -32768);
    const StickVector stick = context.getStickVector();
    EXPECT_NEAR(stick.x, std::sqrt(0.5f), 1e-4f);
    EXPECT_NEAR(stick.y, -std::sqrt(0.5f), 1e-4f);

    pump(); // nothing queued: counts clear, held and stick stay
    EXPECT_EQ(context.getActionCount(0), 0);
    EXPECT_TRUE(context.isStateHeld(0));
    EXPECT_EQ(context.getAxisValue(1), 32766);
}

TEST_F(ManagerTest, OriginListsFromBindingTextBindKeysAndPadButtons)
{
    // Binding text names keys and buttons; each origin becomes a key or a
    // mapped controller button binding, as the game's settings bind them.
    InputContext context;
    InputOrigin origins[6];
    const i32 count = parseInputOrigins("KeyboardSpace keyboardw Xbox360ButtonA PS4DPadUp SteamGyroMove", origins, 6);
    ASSERT_EQ(count, 5);
    for (i32 i = 0; i < count; ++i) {
        if (const i32 key = inputOriginToKeyCode(origins[i]))
            context.bindAction(0, KeyDown, key);
        else if (const i32 button = inputOriginToControllerButton(origins[i]); button >= 0)
            context.bindAction(0, ControllerButtonDown, button);
    }
    EXPECT_EQ(context.actionBindings().count(), 4u); // the gyro binds nothing
    backEnd.devices[2].hasMapping = true;
    backEnd.devices[2].mapping.applyKnownControllerLayout("XInput Controller");
    manager().addContext(&context);

    backEnd.queue(KeyDown, kKeySpace);
    backEnd.queue(KeyDown, 'w');
    backEnd.queue(KeyDown, 's');
    backEnd.queue(ControllerButtonDown, 0, 0, 0, 2); // a
    backEnd.queue(ControllerButtonDown, 10, 0, 0, 2); // raw 10 is d-pad up on this layout
    backEnd.queue(ControllerButtonDown, 12, 0, 0, 2); // raw 12 is d-pad down
    pump();
    EXPECT_EQ(context.getActionCount(0), 4);
}

TEST_F(ManagerTest, EmptyUpdateStillClearsFrameState)
{
    InputContext context;
    context.bindAction(0, KeyDown, -1).bindMouseWheel(0, 0).bindMouseAxis(1, 0, false);
    manager().addContext(&context);
    backEnd.queue(KeyDown, 'x');
    backEnd.queue(MouseWheel, 3, 0, 3, 1);
    backEnd.queue(MouseMotion, 40, 50, 0, 1);
    pump();
    EXPECT_EQ(context.getActionCount(0), 1);
    EXPECT_EQ(context.getAxisValue(0), 3);
    manager().update();
    EXPECT_EQ(context.getActionCount(0), 0);
    EXPECT_EQ(context.getAxisValue(0), 0);
    EXPECT_EQ(context.getAxisValue(1), 40);
}

TEST_F(ManagerTest, ControllerEventsArriveTranslatedThroughTheirDevice)
{
    backEnd.devices[2].hasMapping = true;
    backEnd.devices[2].mapping.applyKnownControllerLayout("Logitech Dual Action");
    backEnd.devices[2].mapping.deadZones[0] = 0.0f;
    RecordingListener listener;
    manager().addListener(&listener);

    backEnd.queue(ControllerButtonDown, 0, 0, 0, 2); // raw 0 is x on this pad
    backEnd.queue(ControllerButtonUp, 13, 0, 0, 2); // raw 13 is d-pad right
    backEnd.queue(ControllerAxis, 1, 5, 0, 2); // left stick without dead zone
    backEnd.queue(ControllerAxis, 3, 8000, 0, 2); // right stick in the 0.25 dead zone
    backEnd.queue(ControllerButtonDown, 0, 0, 0, 7); // no record for device 7: as given
    backEnd.queue(ControllerAxis, 0, 8000, 0, 200);
    backEnd.queue(KeyDown, 0, 0, 0, 2); // keys are never translated
    pump();

    ASSERT_EQ(listener.events.size(), 7u);
    EXPECT_EQ(listener.events[0].code, GameControllerMapping::X);
    EXPECT_EQ(listener.events[1].code, GameControllerMapping::DPadRight);
    EXPECT_EQ(listener.events[2].code, GameControllerMapping::LeftY);
    EXPECT_EQ(listener.events[2].value, 5);
    EXPECT_EQ(listener.events[3].code, GameControllerMapping::RightY);
    EXPECT_EQ(listener.events[3].value, 0);
    EXPECT_EQ(listener.events[4].code, 0);
    EXPECT_EQ(listener.events[5].value, 8000);
    EXPECT_EQ(listener.events[6].code, 0);
    EXPECT_EQ(listener.events[6].type, KeyDown);
}

TEST_F(ManagerTest, ControllerWithoutMappingGetsTheDefault)
{
    RecordingListener listener;
    manager().addListener(&listener);
    backEnd.queue(ControllerAxis, 4, 8191, 0, 2);
    pump();
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].value, 0);
}

TEST_F(ManagerTest, DeviceChangesReachDeviceListenersBeforeTheRecordsAreRebuilt)
{
    RecordingDeviceListener devices;
    RecordingListener listener;
    InputContext context;
    context.bindAction(0, DeviceAdded, -1).bindAction(1, KeyDown, -1);
    manager().addDeviceListener(&devices);
    manager().addListener(&listener);
    manager().addContext(&context);
    ASSERT_EQ(manager().deviceRecordCount(), 3u);

    ScriptedDevice pad = device(kInputDeviceGameController, "Second pad");
    pad.hasMapping = true;
    pad.mapping.applyKnownControllerLayout("XInput Controller");
    backEnd.devices.push_back(pad);
    backEnd.queueDevice(DeviceAdded, 3);
    backEnd.queue(ControllerAxis, 2, 32767, 0, 3); // raw 2 is the left trigger on this pad
    pump();

    ASSERT_EQ(devices.events.size(), 1u);
    EXPECT_EQ(devices.events[0].type, DeviceAdded);
    EXPECT_EQ(devices.events[0].device, 3);
    EXPECT_EQ(devices.recordsAtCall[0], 3u); // not yet rebuilt
    EXPECT_EQ(manager().deviceRecordCount(), 4u);
    ASSERT_EQ(listener.events.size(), 1u); // only the axis
    EXPECT_EQ(listener.events[0].code, GameControllerMapping::LeftTrigger);
    EXPECT_EQ(context.getActionCount(0), 0);
}

TEST(InputManager, NewDeviceRecordsStartAsTheDefaultMapping)
{
    ScriptedInputBackEnd backEnd;
    backEnd.devices = { device(kInputDeviceKeyboard, "Keyboard"), device(kInputDeviceMouse, "Mouse") };
    PoisoningAllocator poison;
    InputManager manager(&backEnd, &poison);
    // A keyboard record is never written from the back end; an event claiming
    // to be a controller on it still translates through a sound mapping.
    const GameControllerMapping expected;
    for (u64 i = 0; i < manager.deviceRecordCount(); ++i)
        EXPECT_TRUE(manager.deviceRecord(i) == expected) << i;
    RecordingListener listener;
    manager.addListener(&listener);
    backEnd.queue(ControllerButtonDown, 3, 0, 0, 1);
    backEnd.pollEvents(manager.getEventQueue());
    manager.update();
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].code, 3);
}

TEST_F(ManagerTest, RemovingListenersAndContextsRemovesEveryOccurrence)
{
    RecordingListener a, b;
    manager().addListener(&a);
    manager().addListener(&b);
    manager().addListener(&a);
    manager().removeListener(&a);
    EXPECT_EQ(manager().listenerCount(), 1u);
    RecordingListener stranger;
    manager().removeListener(&stranger);
    EXPECT_EQ(manager().listenerCount(), 1u);
    backEnd.queue(KeyDown, 'k');
    pump();
    EXPECT_EQ(a.events.size(), 0u);
    EXPECT_EQ(b.events.size(), 1u);

    InputContext c1, c2;
    manager().addContext(&c1);
    manager().addContext(&c2);
    manager().addContext(&c1);
    manager().removeContext(&c1);
    ASSERT_EQ(manager().contextCount(), 1u);
    EXPECT_EQ(manager().contextAt(0), &c2);
}

TEST_F(ManagerTest, ListenerThatRemovesItselfIsCalledForThatEventOnly)
{
    struct OneShot final : InputListener {
        void onInputEvent(const InputEvent&, InputManager& manager) override
        {
            ++calls;
            manager.removeListener(this);
            manager.addListener(&late);
        }
        int calls = 0;
        RecordingListener late;
    } oneShot;
    RecordingListener after;
    manager().addListener(&oneShot);
    manager().addListener(&after);
    backEnd.queue(KeyDown, 'a');
    backEnd.queue(KeyDown, 'b');
    pump();
    EXPECT_EQ(oneShot.calls, 1);
    EXPECT_EQ(after.events.size(), 2u); // the snapshot still held it for the first event
    EXPECT_EQ(oneShot.late.events.size(), 1u); // added during the first event, called from the second
}

TEST_F(ManagerTest, ClearedEvaluateBindingsFeedsListenersOnly)
{
    InputContext context;
    context.bindAction(0, KeyDown, -1).bindState(0, KeyDown, 'a');
    RecordingListener listener;
    manager().addContext(&context);
    manager().addListener(&listener);
    manager().setEvaluateBindings(false);
    backEnd.queue(KeyDown, 'a');
    pump();
    EXPECT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(context.getActionCount(0), 0);
    EXPECT_FALSE(context.isStateHeld(0));
}

TEST_F(ManagerTest, DeviceMaskSelectsContextsModulo32)
{
    InputContext keyboardOnly, bitOne, everything;
    keyboardOnly.deviceMask = 1u << 0;
    bitOne.deviceMask = 1u << 1;
    for (InputContext* context : { &keyboardOnly, &bitOne, &everything }) {
        context->bindAction(0, KeyDown, -1);
        manager().addContext(context);
    }
    backEnd.queue(KeyDown, 'a', 0, 0, 0);
    backEnd.queue(KeyDown, 'b', 0, 0, 33);
    backEnd.queue(KeyDown, 'c', 0, 0, 2);
    pump();
    EXPECT_EQ(keyboardOnly.getActionCount(0), 1);
    EXPECT_EQ(bitOne.getActionCount(0), 1);
    EXPECT_EQ(everything.getActionCount(0), 3);
}

TEST_F(ManagerTest, DisabledContextStillAccumulates)
{
    InputContext context;
    context.bindState(0, KeyDown, 'a');
    context.enabled = false;
    manager().addContext(&context);
    backEnd.queue(KeyDown, 'a');
    pump();
    EXPECT_FALSE(context.isStateHeld(0));
    context.enabled = true;
    EXPECT_TRUE(context.isStateHeld(0));
    manager().resetHeldStates();
    EXPECT_FALSE(context.isStateHeld(0));
}

TEST_F(ManagerTest, HookSeesEachEventBeforeTheListeners)
{
    static std::vector<std::string>* order;
    std::vector<std::string> seen;
    order = &seen;
    struct Listener final : InputListener {
        void onInputEvent(const InputEvent& event, InputManager&) override
        {
            order->push_back("listener " + std::to_string(event.code));
        }
    } listener;
    manager().setEventHook([](const InputEvent& event) { order->push_back("hook " + std::to_string(event.code)); });
    manager().addListener(&listener);
    backEnd.queue(KeyDown, 1);
    backEnd.queue(KeyDown, 2);
    pump();
    EXPECT_EQ(seen, (std::vector<std::string> { "hook 1", "listener 1", "hook 2", "listener 2" }));
}

TEST_F(ManagerTest, RingHoldsAbout85EventsAndNeverGrows)
{
    RecordingListener listener;
    manager().addListener(&listener);
    for (i32 i = 0; i < 200; ++i)
        backEnd.queue(KeyDown, i);
    backEnd.pollEvents(manager().getEventQueue());
    EXPECT_EQ(manager().getEventQueue().capacity(), InputManager::kRingSize);
    EXPECT_GT(backEnd.dropped, 0);
    const u64 kept = 200 - static_cast<u64>(backEnd.dropped);
    EXPECT_GE(kept, 80u);
    EXPECT_LE(kept, 85u);
    manager().update();
    ASSERT_EQ(listener.events.size(), kept);
    for (u64 i = 0; i < kept; ++i)
        ASSERT_EQ(listener.events[i].code, static_cast<i32>(i)); // oldest first, nothing reordered
}

TEST_F(ManagerTest, WritesTheDeviceList)
{
    std::ostringstream out;
    InputManager::writeDeviceList(out, backEnd);
    EXPECT_EQ(out.str(), "Keyboard, Mouse, Pad");
}

TEST_F(ManagerTest, ABackEndItWasGivenIsNotClosed)
{
    manager();
    m_manager.reset();
    EXPECT_EQ(backEnd.closes, 0);
}

} // namespace
