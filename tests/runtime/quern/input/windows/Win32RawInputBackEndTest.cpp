#include "quern/input/windows/Win32RawInputBackEnd.h"

#include "FakeRawInputPlatform.h"
#include "quern/containers/EventQueue.h"
#include "quern/input/InputManager.h"
#include "quern/input/KeyCodes.h"
#include "quern/platform/ErrorReporting.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace quern;
using namespace quern::input;
using quern::testing::FakeHidReading;
using quern::testing::FakeHidValue;
using quern::testing::FakeRawDevice;
using quern::testing::FakeRawInputPlatform;

constexpr WindowHandle kWindow = 0x1000;

FakeRawDevice rawDevice(u64 handle, u32 type, const char* name)
{
    FakeRawDevice d;
    d.handle = handle;
    d.type = type;
    d.name = name;
    d.info.type = type;
    return d;
}

// A gamepad with buttons 1 to 8 and X, Y and hat-switch values.
FakeRawDevice gamepad(u64 handle, const char* name = "\\\\?\\HID#VID_1234&PID_5678")
{
    FakeRawDevice d = rawDevice(handle, kRawInputHid, name);
    d.info.usagePage = kHidUsagePageGenericDesktop;
    d.info.usage = kHidUsageGamepad;
    d.caps.numberInputButtonCaps = 1;
    d.caps.numberInputValueCaps = 3;
    d.buttonCaps = { { kHidUsagePageButton, 1, 8 } };
    d.valueCaps = {
        { kHidUsagePageGenericDesktop, 0x30, 8, 0, 255 },
        { kHidUsagePageGenericDesktop, 0x31, 8, 0, 255 },
        { kHidUsagePageGenericDesktop, 0x39, 4, 0, 7 },
    };
    return d;
}

void put16(std::vector<u8>& bytes, u64 at, u16 v)
{
    bytes[at] = static_cast<u8>(v);
    bytes[at + 1] = static_cast<u8>(v >> 8);
}
void put32(std::vector<u8>& bytes, u64 at, u32 v)
{
    put16(bytes, at, static_cast<u16>(v));
    put16(bytes, at + 2, static_cast<u16>(v >> 16));
}
void put64(std::vector<u8>& bytes, u64 at, u64 v)
{
    put32(bytes, at, static_cast<u32>(v));
    put32(bytes, at + 4, static_cast<u32>(v >> 32));
}

std::vector<u8> header(u32 type, u64 device, u32 dataSize)
{
    std::vector<u8> bytes(kRawInputHeaderSize + dataSize, 0);
    put32(bytes, 0, type);
    put32(bytes, 4, static_cast<u32>(bytes.size()));
    put64(bytes, 8, device);
    return bytes;
}

std::vector<u8> keyboardRecord(u64 device, u16 virtualKey, u16 scanCode, u16 flags)
{
    std::vector<u8> bytes = header(kRawInputKeyboard, device, kRawKeyboardSize);
    put16(bytes, 24, scanCode);
    put16(bytes, 26, flags);
    put16(bytes, 30, virtualKey);
    return bytes;
}

std::vector<u8> mouseRecord(u64 device, u16 flags, u16 buttonFlags, i32 x, i32 y)
{
    std::vector<u8> bytes = header(kRawInputMouse, device, kRawMouseSize);
    put16(bytes, 24, flags);
    put16(bytes, 28, buttonFlags);
    put32(bytes, 36, static_cast<u32>(x));
    put32(bytes, 40, static_cast<u32>(y));
    return bytes;
}

// Reports of `reportSize` bytes, each starting with the index of its reading.
std::vector<u8> hidRecord(u64 device, u32 reportSize, const std::vector<u8>& readings)
{
    std::vector<u8> bytes = header(kRawInputHid, device, kRawHidHeaderSize + reportSize * readings.size());
    put32(bytes, 24, reportSize);
    put32(bytes, 28, static_cast<u32>(readings.size()));
    for (u64 i = 0; i < readings.size(); ++i)
        bytes[32 + i * reportSize] = readings[i];
    return bytes;
}

struct RawInputTest : ::testing::Test {
    RawInputTest()
        : ring(nullptr)
    {
        ring.reserve(InputManager::kRingSize);
        platform.devices = { rawDevice(1, kRawInputKeyboard, "\\\\?\\HID#Keyboard"),
            rawDevice(2, kRawInputMouse, "\\\\?\\HID#Mouse") };
    }

    // Delivers records as raw-input messages of the window and polls.
    std::vector<InputEvent> deliver(const std::vector<std::vector<u8>>& records)
    {
        for (const std::vector<u8>& record : records) {
            const u64 id = nextRecord++;
            platform.records[id] = record;
            platform.messages.push_back({ kWindow, kMessageInput, 0, id });
        }
        backEnd.pollEvents(ring);
        std::vector<InputEvent> events;
        while (!ring.isEmpty()) {
            InputEvent event;
            EXPECT_EQ(ring.front()->payloadSize, sizeof event);
            std::memcpy(&event, containers::EventQueue::payload(ring.front()), sizeof event);
            EXPECT_EQ(ring.front()->type, event.type);
            ring.pop();
            events.push_back(event);
        }
        return events;
    }

    void open()
    {
        InputBackEndStatus status { 1, "unset" };
        backEnd.open(status);
        EXPECT_EQ(status.code, 0);
        EXPECT_STREQ(status.message, "");
    }

    FakeRawInputPlatform platform;
    Win32RawInputBackEnd backEnd { &platform };
    containers::EventQueue ring;
    u64 nextRecord = 1;
};

TEST(Win32RawInputBackEnd, ThisSystemHasNoRawInputDevices)
{
    Win32RawInputBackEnd backEnd;
    InputBackEndStatus status { 1, "unset" };
    backEnd.open(status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(backEnd.getDeviceCount(), 0);
    containers::EventQueue ring(nullptr);
    ring.reserve(256);
    backEnd.pollEvents(ring);
    EXPECT_TRUE(ring.isEmpty());
    EXPECT_FALSE(systemRawInputPlatform().loadHidLibrary()); // no HID parser library here
    backEnd.showCursor(false);
    backEnd.showCursor(true);
    backEnd.warpMouse(1, 2);
    EXPECT_TRUE(backEnd.setRelativeMouseMode(true));
    EXPECT_EQ(backEnd.getInputOrigin(0, KeyDown, 'a'), InputOrigin::Unknown);
}

TEST(Win32RawInputBackEnd, ManagerWithoutBackEndOwnsOneWithoutDevices)
{
    InputManager manager(nullptr);
    ASSERT_NE(manager.getBackEnd(), nullptr);
    EXPECT_TRUE(manager.ownsBackEnd());
    EXPECT_EQ(manager.getBackEnd()->getDeviceCount(), 0);
    EXPECT_EQ(manager.deviceRecordCount(), 0u);
    manager.getBackEnd()->pollEvents(manager.getEventQueue());
    manager.update();
}

TEST(Win32RawInputBackEnd, OwnedBackEndGoesBackToTheManagersAllocator)
{
    quern::testing::CountingAllocator allocator;
    {
        InputManager manager(nullptr, &allocator);
        EXPECT_GT(allocator.live, 0);
    }
    EXPECT_EQ(allocator.live, 0);
}

TEST_F(RawInputTest, EnumerationKeepsRealKeyboardsMiceAndGameControllers)
{
    FakeRawDevice joystickMouse = gamepad(5);
    joystickMouse.info.usage = 2; // a HID that is no game controller
    FakeRawDevice brokenCaps = gamepad(6);
    brokenCaps.capsStatus = kHidInvalidPreparsedData;
    FakeRawDevice unnamed = rawDevice(7, kRawInputMouse, "");
    unnamed.nameFails = true;
    platform.devices = {
        rawDevice(1, kRawInputKeyboard, "\\\\?\\HID#Keyboard"),
        rawDevice(2, kRawInputMouse, "\\\\?\\Root#RDP_MOU#0000"), // virtual: skipped
        rawDevice(3, kRawInputMouse, "\\\\?\\HID#Mouse"), gamepad(4, "\\\\?\\HID#Pad"), joystickMouse, brokenCaps,
        unnamed, rawDevice(8, kRawInputKeyboard, "\\\\?\\Root"), // shorter than the prefix: kept
    };
    open();
    ASSERT_EQ(backEnd.getDeviceCount(), 4);
    const struct {
        const char* name;
        i32 kind;
    } expected[] = {
        { "\\\\?\\HID#Keyboard", kInputDeviceKeyboard },
        { "\\\\?\\HID#Mouse", kInputDeviceMouse },
        { "\\\\?\\HID#Pad", kInputDeviceGameController },
        { "\\\\?\\Root", kInputDeviceKeyboard },
    };
    for (u8 i = 0; i < 4; ++i) {
        InputDeviceInfo info;
        backEnd.getDeviceInfo(i, info);
        EXPECT_STREQ(info.name, expected[i].name);
        EXPECT_EQ(info.kind, expected[i].kind);
        EXPECT_EQ(info.mapping, nullptr);
    }
    EXPECT_EQ(backEnd.devices()[2].buttonCount, 8);
    EXPECT_EQ(backEnd.devices()[2].previousButtons, std::vector<u8>(8, 0));
}

TEST_F(RawInputTest, WithoutTheHidLibraryGameControllersAreSkipped)
{
    platform.hidAvailable = false;
    platform.devices.push_back(gamepad(4));
    platform.devices.push_back(gamepad(5));
    open();
    open();
    EXPECT_EQ(backEnd.getDeviceCount(), 2);
    EXPECT_TRUE(backEnd.hidUnavailable());
    EXPECT_EQ(platform.hidLoads, 1); // never tried again
}

TEST_F(RawInputTest, FailedDeviceCountMeansNoDevices)
{
    platform.countFails = true;
    open();
    EXPECT_EQ(backEnd.getDeviceCount(), 0);
}

TEST_F(RawInputTest, FailedDeviceListIsFatal)
{
    platform.listFails = true;
    EXPECT_DEATH(open(), "GetRawInputDeviceList failed: ");
}

TEST(Win32RawInputKeys, VirtualKeysBecomeKeyCodes)
{
    const struct {
        u16 vk;
        u16 scan;
        u16 flags;
        i32 code;
    } cases[] = {
        { 'A', 0x1e, 0, kKeyA }, { 'Z', 0x2c, 0, kKeyZ }, { '7', 0x08, 0, '7' }, { 0x70, 0x3b, 0, kKeyF1 },
        { 0x7e, 0, 0, kKeyF15 }, { 0x1b, 0x01, 0, kKeyEscape }, { 0x20, 0x39, 0, kKeySpace },
        { 0x08, 0x0e, 0, kKeyBackspace }, { 0x10, 0x2a, 0, kKeyLeftShift }, { 0x10, 0x36, 0, kKeyRightShift },
        { 0x11, 0x1d, 0, kKeyLeftControl }, { 0x11, 0x1d, kRawKeyExtended, kKeyRightControl },
        { 0x12, 0x38, 0, kKeyLeftAlt }, { 0x12, 0x38, kRawKeyExtended, kKeyRightAlt }, { 0x0d, 0x1c, 0, kKeyReturn },
        { 0x0d, 0x1c, kRawKeyExtended, kKeyKeypadEnter }, { 0x0c, 0x4c, 0, 261 },
        { 0x0c, 0x4c, kRawKeyExtended, kKeyClear }, { 0x25, 0x4b, kRawKeyExtended, kKeyLeft }, { 0x25, 0x4b, 0, 260 },
        { 0x26, 0x48, kRawKeyExtended, kKeyUp }, { 0x26, 0x48, 0, 264 }, { 0x21, 0x49, kRawKeyExtended, kKeyPageUp },
        { 0x21, 0x49, 0, 265 }, { 0x22, 0x51, 0, 259 }, { 0x23, 0x4f, 0, 257 }, { 0x24, 0x47, 0, 263 },
        { 0x27, 0x4d, 0, 262 }, { 0x28, 0x50, 0, 258 }, { 0x2d, 0x52, kRawKeyExtended, kKeyInsert },
        { 0x2d, 0x52, 0, kKeyKeypad0 }, { 0x2e, 0x53, kRawKeyExtended, kKeyDelete },
        { 0x2e, 0x53, 0, kKeyKeypadPeriod }, { 0xa0, 0x2a, 0, kKeyLeftShift }, { 0xa3, 0x1d, 0, kKeyRightControl },
        { 0x90, 0x45, 0, 0 }, // num lock: no code
        { 0xba, 0x27, 0, 0 }, // a punctuation key without code
        { 0xff, 0x00, 0, -1 }, // the fake key: nothing at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(rawKeyToKeyCode(c.vk, c.scan, c.flags), c.code) << "vk " << c.vk << " flags " << c.flags;
}

TEST_F(RawInputTest, KeyboardRecordsBecomeKeyEvents)
{
    open();
    const std::vector<InputEvent> events = deliver({
        keyboardRecord(1, 'W', 0x11, 0), keyboardRecord(1, 'W', 0x11, kRawKeyBreak),
        keyboardRecord(1, 0xff, 0, 0), // fake key: no event
        keyboardRecord(1, 0xba, 0x27, 0), // no key code: code 0, as the other back ends
        keyboardRecord(1, 0xba, 0x27, kRawKeyBreak), keyboardRecord(9, 'Q', 0x10, 0), // unknown device: nothing
    });
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, KeyDown);
    EXPECT_EQ(events[0].code, 'w');
    EXPECT_EQ(events[0].device, 0);
    EXPECT_EQ(events[1].type, KeyUp);
    EXPECT_EQ(events[1].code, 'w');
    EXPECT_EQ(events[2].type, KeyDown);
    EXPECT_EQ(events[2].code, 0);
    EXPECT_EQ(events[3].type, KeyUp);
}

TEST_F(RawInputTest, MouseRecordsGiveMotionThenEveryButtonTransition)
{
    open();
    const std::vector<InputEvent> events = deliver({
        mouseRecord(2, 0, kMouseLeftDown | kMouseRightUp | kMouseButton5Down, 5, -3),
        mouseRecord(2, 0, kMouseMiddleDown | kMouseMiddleUp, 0, 0), // a click within one record
        mouseRecord(2, 0, 0, 2, 2), mouseRecord(2, kMouseMoveAbsolute, 0, 400, 300),
        mouseRecord(2, kMouseMoveAbsolute, kMouseButton4Up, 400, 300), // no motion
        mouseRecord(2, 0, 0, 0, 0), // wheel or nothing: no event
    });
    const struct {
        u16 type;
        i32 button;
        i32 x, y;
    } expected[] = {
        { MouseMotion, 0, 5, -3 },
        { MouseButtonDown, 0, 5, -3 },
        { MouseButtonUp, 2, 5, -3 },
        { MouseButtonDown, 4, 5, -3 },
        { MouseButtonDown, 1, 5, -3 },
        { MouseButtonUp, 1, 5, -3 },
        { MouseMotion, 0, 7, -1 },
        { MouseMotion, 0, 400, 300 },
        { MouseButtonUp, 3, 400, 300 },
    };
    ASSERT_EQ(events.size(), std::size(expected));
    for (u64 i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, expected[i].type) << i;
        if (expected[i].type != MouseMotion) {
            EXPECT_EQ(events[i].button, expected[i].button) << i;
        }
        EXPECT_EQ(events[i].code, expected[i].x) << i;
        EXPECT_EQ(events[i].value, expected[i].y) << i;
        EXPECT_EQ(events[i].device, 1) << i;
    }
}

TEST_F(RawInputTest, HidReportsGiveOneEventPerButtonTransitionAndAxis)
{
    platform.devices.push_back(gamepad(4));
    open();
    platform.readings = {
        // 0: buttons 1 and 3 pressed, stick at rest, hat at 7
        { { 1, 3 }, { { 0x30, { kHidSuccess, 128 } }, { 0x31, { kHidSuccess, 0 } }, { 0x39, { kHidSuccess, 7 } } } },
        // 1: button 1 released, 8 pressed, stick at the ends
        { { 3, 8 }, { { 0x30, { kHidSuccess, 255 } }, { 0x31, { kHidSuccess, 0 } }, { 0x39, { kHidSuccess, 0 } } } },
    };
    const std::vector<InputEvent> events = deliver({ hidRecord(4, 4, { 0 }), hidRecord(4, 4, { 1 }) });
    const struct {
        u16 type;
        i32 code;
        i32 value;
    } expected[] = {
        { ControllerButtonDown, 0, 0 },
        { ControllerButtonDown, 2, 0 },
        { ControllerAxis, 0, 128 }, // 128 of 0..255 is just past the middle
        { ControllerAxis, 1, -32768 },
        { ControllerAxis, 7, 32767 },
        { ControllerButtonUp, 0, 0 },
        { ControllerButtonDown, 7, 0 },
        { ControllerAxis, 0, 32767 },
        { ControllerAxis, 1, -32768 },
        { ControllerAxis, 7, -32768 },
    };
    ASSERT_EQ(events.size(), std::size(expected));
    for (u64 i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, expected[i].type) << i;
        EXPECT_EQ(events[i].code, expected[i].code) << i;
        EXPECT_NEAR(events[i].value, expected[i].value, 1) << i;
        EXPECT_EQ(events[i].device, 2) << i;
    }
}

TEST_F(RawInputTest, HidValueFallsBackToTheRawReadingAndStaysInRange)
{
    FakeRawDevice pad = gamepad(4);
    pad.valueCaps = {
        { kHidUsagePageGenericDesktop, 0x30, 4, -8, 7 }, // raw reading masked to 4 bits, minus the minimum
        { kHidUsagePageGenericDesktop, 0x31, 8, 0, 255 }, // bad ranges: raw reading
        { kHidUsagePageGenericDesktop, 0x32, 8, 0, 255 }, // null status: skipped silently
        { kHidUsagePageGenericDesktop, 0x33, 8, 0, 255 }, // other failure: logged and skipped
        { kHidUsagePageGenericDesktop, 0x34, 16, 0, 100 }, // scaled reading far outside the range
        { kHidUsagePageGenericDesktop, 0x37, 8, 0, 255 }, // dial: no axis
    };
    platform.devices.push_back(pad);
    open();
    platform.readings = { { {},
        {
            { 0x30, { kHidValueOutOfRange, 0, kHidSuccess, 0xf7 } }, // 7 & 15 = 7, minus -8 = 15 of 15
            { 0x31, { kHidBadLogPhyValues, 0, kHidSuccess, 0 } },
            { 0x32, { kHidNull, 0 } },
            { 0x33, { kHidIncompatibleReportId, 0 } },
            { 0x34, { kHidSuccess, 100000 } },
            { 0x37, { kHidSuccess, 3 } },
        } } };
    const std::vector<InputEvent> events = deliver({ hidRecord(4, 4, { 0 }) });
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].code, 0);
    EXPECT_EQ(events[0].value, 32767);
    EXPECT_EQ(events[1].code, 1);
    EXPECT_EQ(events[1].value, -32768);
    EXPECT_EQ(events[2].code, 4);
    EXPECT_EQ(events[2].value, 32767);
}

TEST_F(RawInputTest, UnmappedHidUsageRaisesTheSoftAssertion)
{
    static int asserts;
    asserts = 0;
    const auto previous = debug::getSoftAssertCallback();
    debug::setSoftAssertCallback([](const char* message, const char*, const char*, u32) {
        if (std::string(message) == "Can't map HID usage to axis")
            ++asserts;
        return false;
    });
    FakeRawDevice pad = gamepad(4);
    pad.valueCaps
        = { { kHidUsagePageGenericDesktop, 0x40, 8, 0, 255 }, { kHidUsagePageGenericDesktop, 0x31, 8, 0, 255 } };
    platform.devices.push_back(pad);
    open();
    platform.readings = { { {}, { { 0x31, { kHidSuccess, 255 } } } } };
    const std::vector<InputEvent> events = deliver({ hidRecord(4, 4, { 0 }) });
    debug::setSoftAssertCallback(previous);
    EXPECT_EQ(asserts, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, 1);
}

TEST_F(RawInputTest, RecordsAreReadWholeAndNeverPastTheirEnd)
{
    FakeRawDevice buttonsOnly = gamepad(4);
    buttonsOnly.valueCaps.clear();
    platform.devices.push_back(buttonsOnly);
    open();
    platform.readings = { { { 2 }, {} }, { {}, {} } };
    // Two 60-byte reports in one 152-byte record: both are read.
    std::vector<InputEvent> events = deliver({ hidRecord(4, 60, { 0, 1 }) });
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, ControllerButtonDown);
    EXPECT_EQ(events[1].type, ControllerButtonUp);

    // A record that claims more report bytes than it holds gives nothing.
    std::vector<u8> overlong = hidRecord(4, 8, { 0 });
    put32(overlong, 28, 3);
    // Records too short for their device's data give nothing either.
    std::vector<u8> shortKey = keyboardRecord(1, 'A', 0x1e, 0);
    shortKey.resize(kRawInputHeaderSize + kRawKeyboardSize - 1);
    std::vector<u8> shortMouse = mouseRecord(2, 0, kMouseLeftDown, 1, 1);
    shortMouse.resize(kRawInputHeaderSize + 10);
    events = deliver({ overlong, shortKey, shortMouse, std::vector<u8>(10, 0) });
    EXPECT_TRUE(events.empty());
}

TEST_F(RawInputTest, FullRingDropsEvents)
{
    open();
    containers::EventQueue small(nullptr);
    small.reserve(64); // room for two events
    for (int i = 0; i < 5; ++i) {
        platform.records[100 + i] = keyboardRecord(1, 'A', 0x1e, 0);
        platform.messages.push_back({ kWindow, kMessageInput, 0, static_cast<u64>(100 + i) });
    }
    backEnd.pollEvents(small);
    int count = 0;
    while (!small.isEmpty()) {
        small.pop();
        ++count;
    }
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(RawInputTest, FirstMessageRegistersItsWindowAndAnotherWindowReRegisters)
{
    open();
    platform.messages.push_back({ kWindow, 0x0200, 0, 0 });
    backEnd.pollEvents(ring);
    EXPECT_EQ(backEnd.registeredWindow(), kWindow);
    EXPECT_EQ(backEnd.registeredUsageCount(), 4u);
    ASSERT_EQ(platform.registrations.size(), 1u);
    const std::vector<RawInputRegistration>& usages = platform.registrations[0];
    ASSERT_EQ(usages.size(), 4u);
    const u16 expectedUsages[] = { 6, 2, 4, 5 };
    for (u64 i = 0; i < 4; ++i) {
        EXPECT_EQ(usages[i].usagePage, 1);
        EXPECT_EQ(usages[i].usage, expectedUsages[i]);
        EXPECT_EQ(usages[i].target, kWindow);
        EXPECT_FALSE(usages[i].remove);
    }
    EXPECT_EQ(platform.dispatched, 1);

    // Only the registered window's messages are taken from now on.
    platform.messages.push_back({ 0x2000, 0x0200, 0, 0 });
    backEnd.pollEvents(ring);
    EXPECT_EQ(platform.messages.size(), 1u);
    backEnd.handleMessage({ 0x2000, 0x0200, 0, 0 });
    EXPECT_EQ(backEnd.registeredWindow(), 0x2000u);
    ASSERT_EQ(platform.registrations.size(), 3u);
    EXPECT_EQ(platform.registrations[1].size(), 4u);
    EXPECT_TRUE(platform.registrations[1][0].remove);
    EXPECT_EQ(platform.registrations[2][0].target, 0x2000u);
}

TEST_F(RawInputTest, RegistrationFallsBackToKeyboardAndMouse)
{
    platform.refuseJoysticks = true;
    backEnd.handleMessage({ kWindow, 0x0200, 0, 0 });
    EXPECT_EQ(backEnd.registeredUsageCount(), 2u);
    ASSERT_EQ(platform.registrations.size(), 2u);
    EXPECT_EQ(platform.registrations[1].size(), 2u);
}

TEST_F(RawInputTest, FailedRegistrationIsFatal)
{
    platform.registrationFails = true;
    EXPECT_DEATH(backEnd.handleMessage({ kWindow, 0x0200, 0, 0 }), "RegisterRawInputDevices failed: ");
}

TEST_F(RawInputTest, HiddenCursorStaysHiddenOverTheFocusedClientArea)
{
    backEnd.handleMessage({ kWindow, 0x0200, 0, 0 });
    backEnd.showCursor(false);
    EXPECT_EQ(platform.cursor, 0u);
    EXPECT_EQ(platform.classCursor, 0u);
    backEnd.showCursor(false); // the cursor saved first is kept
    platform.cursor = 55; // the system shows it again over the window
    platform.focus = kWindow;
    backEnd.handleMessage({ kWindow, kMessageSetCursor, kWindow, kHitTestClient });
    EXPECT_EQ(platform.cursor, 0u);
    platform.cursor = 55;
    backEnd.handleMessage({ kWindow, kMessageSetCursor, kWindow, 2 }); // not the client area
    EXPECT_EQ(platform.cursor, 55u);
    backEnd.showCursor(true);
    EXPECT_EQ(platform.cursor, 77u);
    EXPECT_EQ(platform.classCursor, 77u);
    backEnd.warpMouse(10, 20);
    EXPECT_EQ(platform.cursorX, 110);
    EXPECT_EQ(platform.cursorY, 220);
}

TEST(Win32RawInputHid, StatusTexts)
{
    EXPECT_STREQ(getHidStatusText(kHidSuccess), "The routine successfully completed.");
    EXPECT_STREQ(getHidStatusText(0x12345678), "Unknown status code.");
    const u32 known[] = { kHidNull, kHidInvalidPreparsedData, kHidInvalidReportType, kHidInvalidReportLength,
        kHidUsageNotFound, kHidValueOutOfRange, kHidBadLogPhyValues, kHidBufferTooSmall, kHidIncompatibleReportId,
        kHidIsValueArray, kHidDataIndexNotFound, kHidButtonNotPressed, kHidReportDoesNotExist };
    for (const u32 status : known)
        EXPECT_STRNE(getHidStatusText(status), "Unknown status code.") << std::hex << status;
}

} // namespace
