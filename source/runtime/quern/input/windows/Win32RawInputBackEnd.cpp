#include "quern/input/windows/Win32RawInputBackEnd.h"

#include "quern/LittleEndian.h"
#include "quern/containers/EventQueue.h"
#include "quern/debug/Log.h"
#include "quern/input/KeyCodes.h"
#include "quern/platform/DynamicLibrary.h"
#include "quern/platform/ErrorReporting.h"

#include <array>
#include <cstring>
#include <string>

namespace quern::input {

namespace {

// Virtual keys with rules of their own.
enum VirtualKey : u16 {
    kVkClear = 0x0c,
    kVkReturn = 0x0d,
    kVkShift = 0x10,
    kVkControl = 0x11,
    kVkAlt = 0x12,
    kVkPageUp = 0x21,
    kVkPageDown = 0x22,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkUp = 0x26,
    kVkRight = 0x27,
    kVkDown = 0x28,
    kVkInsert = 0x2d,
    kVkDelete = 0x2e,
    kVkFake = 0xff,
};

constexpr u16 kScanRightShift = 0x36;

using VirtualKeyTable = std::array<i16, 256>;

// Built at compile time, so no thread races to fill it on first use.
constexpr VirtualKeyTable makeVirtualKeyTable()
{
    VirtualKeyTable table {};
    for (const i32 vk : { 8, 9, 13, 27, 32 })
        table[vk] = static_cast<i16>(vk);
    table[18] = kKeyLeftAlt;
    table[35] = kKeyEnd;
    table[36] = kKeyHome;
    table[37] = kKeyLeft;
    table[38] = kKeyUp;
    table[39] = kKeyRight;
    table[40] = kKeyDown;
    table[45] = kKeyInsert;
    table[46] = kKeyDelete;
    for (i32 vk = 48; vk <= 57; ++vk)
        table[vk] = static_cast<i16>(vk);
    for (i32 vk = 65; vk <= 90; ++vk)
        table[vk] = static_cast<i16>(vk + 32);
    for (i32 vk = 112; vk <= 126; ++vk)
        table[vk] = static_cast<i16>(kKeyF1 + vk - 112);
    table[160] = kKeyLeftShift;
    table[161] = kKeyRightShift;
    table[162] = kKeyLeftControl;
    table[163] = kKeyRightControl;
    return table;
}

constexpr VirtualKeyTable kVirtualKeys = makeVirtualKeyTable();

// Keys whose code depends on the extended-key flag: {virtual key, with, without}.
struct ExtendedKey {
    u16 virtualKey;
    i32 extended;
    i32 plain;
};

constexpr ExtendedKey kExtendedKeys[] = {
    { kVkClear, kKeyClear, kKeyKeypad0 + 5 },
    { kVkReturn, kKeyKeypadEnter, kKeyReturn },
    { kVkControl, kKeyRightControl, kKeyLeftControl },
    { kVkAlt, kKeyRightAlt, kKeyLeftAlt },
    { kVkPageUp, kKeyPageUp, kKeyKeypad0 + 9 },
    { kVkPageDown, kKeyPageDown, kKeyKeypad0 + 3 },
    { kVkEnd, kKeyEnd, kKeyKeypad0 + 1 },
    { kVkHome, kKeyHome, kKeyKeypad0 + 7 },
    { kVkLeft, kKeyLeft, kKeyKeypad0 + 4 },
    { kVkUp, kKeyUp, kKeyKeypad0 + 8 },
    { kVkRight, kKeyRight, kKeyKeypad0 + 6 },
    { kVkDown, kKeyDown, kKeyKeypad0 + 2 },
    { kVkInsert, kKeyInsert, kKeyKeypad0 },
    { kVkDelete, kKeyDelete, kKeyKeypadPeriod },
};

// Raw input is received for the keyboard, the mouse, joysticks and gamepads;
// when all four cannot be registered, keyboard and mouse alone.
constexpr RawInputRegistration kUsages[] = {
    { kHidUsagePageGenericDesktop, 6, false, 0 },
    { kHidUsagePageGenericDesktop, 2, false, 0 },
    { kHidUsagePageGenericDesktop, kHidUsageJoystick, false, 0 },
    { kHidUsagePageGenericDesktop, kHidUsageGamepad, false, 0 },
};

// Virtual devices (remote desktop and the like) are named under the root.
constexpr char kVirtualDevicePrefix[] = "\\\\?\\Root#";
static_assert(sizeof kVirtualDevicePrefix - 1 == 9);

// Mouse buttons in engine order: left, middle, right, fourth, fifth.
constexpr u16 kMouseButtonFlags[][2] = {
    { kMouseLeftDown, kMouseLeftUp },
    { kMouseMiddleDown, kMouseMiddleUp },
    { kMouseRightDown, kMouseRightUp },
    { kMouseButton4Down, kMouseButton4Up },
    { kMouseButton5Down, kMouseButton5Up },
};

// The back end whose pollEvents runs on this thread.
thread_local Win32RawInputBackEnd* t_polling = nullptr;

std::string systemError(RawInputPlatform& platform) { return platform::getSystemErrorText(platform.lastError()); }

} // namespace

i32 rawKeyToKeyCode(u16 virtualKey, u16 scanCode, u16 flags)
{
    if (virtualKey == kVkFake)
        return -1;
    if (virtualKey == kVkShift)
        return scanCode == kScanRightShift ? kKeyRightShift : kKeyLeftShift;
    const bool extended = (flags & kRawKeyExtended) != 0;
    for (const ExtendedKey& key : kExtendedKeys) {
        if (key.virtualKey == virtualKey)
            return extended ? key.extended : key.plain;
    }
    return virtualKey < kVirtualKeys.size() ? kVirtualKeys[virtualKey] : 0;
}

Win32RawInputBackEnd::Win32RawInputBackEnd(RawInputPlatform* platform)
    : m_platform(platform ? *platform : systemRawInputPlatform())
{
}

Win32RawInputBackEnd::~Win32RawInputBackEnd() { close(); }

void Win32RawInputBackEnd::open(InputBackEndStatus& status)
{
    queryDevices();
    status = {};
}

void Win32RawInputBackEnd::close()
{
    if (!m_cursorVisible)
        showCursor(true);
    m_devices.clear();
    m_devices.shrink_to_fit();
}

void Win32RawInputBackEnd::queryDevices()
{
    u32 count = 0;
    if (!m_platform.getDeviceCount(count))
        return;
    std::vector<RawInputDeviceEntry> entries(count);
    if (!m_platform.getDeviceList(entries))
        QUERN_FATAL(("GetRawInputDeviceList failed: " + systemError(m_platform)).c_str());

    std::vector<Device> accepted;
    for (const RawInputDeviceEntry& entry : entries) {
        Device device;
        device.handle = entry.device;
        if (!m_platform.getDeviceName(entry.device, device.name)) {
            QUERN_LOG(1) << "GetRawInputDeviceInfo failed: " << systemError(m_platform) << std::endl;
            continue;
        }
        if (device.name.compare(0, 9, kVirtualDevicePrefix) == 0)
            continue;
        if (entry.type == kRawInputMouse) {
            device.kind = kInputDeviceMouse;
        } else if (entry.type == kRawInputKeyboard) {
            device.kind = kInputDeviceKeyboard;
        } else if (entry.type == kRawInputHid && openHidDevice(device)) {
            device.kind = kInputDeviceGameController;
        } else {
            continue;
        }
        accepted.push_back(std::move(device));
    }
    m_devices = std::move(accepted);
}

void Win32RawInputBackEnd::warpMouse(i32 x, i32 y)
{
    m_platform.clientToScreen(m_window, x, y);
    m_platform.setCursorPosition(x, y);
}

void Win32RawInputBackEnd::showCursor(bool visible)
{
    if (!visible) {
        if (!m_savedCursor)
            m_savedCursor = m_platform.getCursor();
        m_platform.setCursor(0);
        m_platform.setClassCursor(m_window, 0);
    } else {
        m_platform.setCursor(m_savedCursor);
        m_platform.setClassCursor(m_window, m_savedCursor);
        m_savedCursor = 0;
    }
    m_cursorVisible = visible;
}

bool Win32RawInputBackEnd::setRelativeMouseMode(bool relative)
{
    m_relativeMouse = relative;
    return true;
}

void Win32RawInputBackEnd::pollEvents(containers::EventQueue& ring)
{
    m_ring = &ring;
    Win32RawInputBackEnd* const outer = t_polling;
    t_polling = this;
    PlatformMessage message;
    while (m_platform.peekMessage(m_window, message)) {
        m_platform.translateAndDispatch(message);
        win32RawInputBackEndWndProc(message);
    }
    t_polling = outer;
    m_ring = nullptr;
}

i32 Win32RawInputBackEnd::getDeviceCount() { return static_cast<i32>(m_devices.size()); }

void Win32RawInputBackEnd::getDeviceInfo(u8 device, InputDeviceInfo& info)
{
    if (device >= m_devices.size())
        return;
    info.name = m_devices[device].name.c_str();
    info.kind = m_devices[device].kind;
}

void Win32RawInputBackEnd::registerFor(WindowHandle window)
{
    if (m_window) {
        QUERN_LOG(4) << "Re-registering devices" << std::endl;
        unregister();
    }
    RawInputRegistration usages[4];
    for (u32 i = 0; i < 4; ++i) {
        usages[i] = kUsages[i];
        usages[i].target = window;
    }
    if (m_platform.registerRawInputDevices(usages, 4)) {
        m_registeredUsages = 4;
    } else if (m_platform.registerRawInputDevices(usages, 2)) {
        m_registeredUsages = 2;
    } else {
        QUERN_FATAL(("RegisterRawInputDevices failed: " + systemError(m_platform)).c_str());
    }
    m_window = window;
}

void Win32RawInputBackEnd::unregister()
{
    RawInputRegistration usages[4];
    for (u32 i = 0; i < m_registeredUsages; ++i) {
        usages[i] = kUsages[i];
        usages[i].remove = true;
    }
    m_platform.registerRawInputDevices(usages, m_registeredUsages);
    m_registeredUsages = 0;
    m_window = 0;
}

void win32RawInputBackEndWndProc(const PlatformMessage& message)
{
    if (t_polling)
        t_polling->handleMessage(message);
}

void Win32RawInputBackEnd::handleMessage(const PlatformMessage& message)
{
    if (message.window != 0 && message.window != m_window)
        registerFor(message.window);
    if (message.message == kMessageSetCursor) {
        if ((message.lParam & 0xffff) == kHitTestClient && !m_cursorVisible && m_platform.getFocus() == m_window)
            m_platform.setCursor(0);
    } else if (message.message == kMessageInput) {
        handleRawInput(message.lParam);
    }
}

void Win32RawInputBackEnd::handleRawInput(u64 record)
{
    // The record is read whole, by the size the system gives for it.
    const u32 size = m_platform.getRawInputSize(record);
    if (size < kRawInputHeaderSize)
        return;
    std::vector<u8> bytes(size);
    if (!m_platform.readRawInput(record, bytes.data(), size))
        return;
    const u32 type = readLittleEndian32(bytes.data());
    const RawInputHandle handle = readLittleEndian64(bytes.data() + 8);
    u64 index = 0;
    while (index < m_devices.size() && m_devices[index].handle != handle)
        ++index;
    if (index == m_devices.size() || index > 255)
        return;
    const u8* data = bytes.data() + kRawInputHeaderSize;
    const u32 dataSize = size - kRawInputHeaderSize;
    const u8 device = static_cast<u8>(index);
    if (type == kRawInputMouse && dataSize >= kRawMouseSize)
        translateMouse(data, device);
    else if (type == kRawInputKeyboard && dataSize >= kRawKeyboardSize)
        translateKeyboard(data, device);
    else if (type == kRawInputHid && m_devices[index].kind == kInputDeviceGameController)
        translateHid(data, dataSize, m_devices[index], device);
}

void Win32RawInputBackEnd::translateMouse(const u8* data, u8 device)
{
    const u16 flags = readLittleEndian16(data);
    const u16 buttonFlags = readLittleEndian16(data + 4);
    const i32 x = static_cast<i32>(readLittleEndian32(data + 12));
    const i32 y = static_cast<i32>(readLittleEndian32(data + 16));

    InputEvent event;
    event.device = device;
    bool moved;
    if (flags & kMouseMoveAbsolute) {
        moved = x != m_pointerX || y != m_pointerY;
        m_pointerX = x;
        m_pointerY = y;
    } else {
        moved = x != 0 || y != 0;
        // Wraps rather than overflows on absurd totals.
        m_pointerX = static_cast<i32>(static_cast<u32>(m_pointerX) + static_cast<u32>(x));
        m_pointerY = static_cast<i32>(static_cast<u32>(m_pointerY) + static_cast<u32>(y));
    }
    event.code = m_pointerX;
    event.value = m_pointerY;
    if (moved) {
        event.type = MouseMotion;
        push(event);
    }
    // One event per transition, so no press or release is lost to a later one.
    for (i32 button = 0; button < 5; ++button) {
        event.button = button;
        if (buttonFlags & kMouseButtonFlags[button][0]) {
            event.type = MouseButtonDown;
            push(event);
        }
        if (buttonFlags & kMouseButtonFlags[button][1]) {
            event.type = MouseButtonUp;
            push(event);
        }
    }
}

void Win32RawInputBackEnd::translateKeyboard(const u8* data, u8 device)
{
    const u16 scanCode = readLittleEndian16(data);
    const u16 flags = readLittleEndian16(data + 2);
    const u16 virtualKey = readLittleEndian16(data + 6);
    const i32 code = rawKeyToKeyCode(virtualKey, scanCode, flags);
    if (code < 0)
        return;
    InputEvent event;
    event.type = (flags & kRawKeyBreak) ? KeyUp : KeyDown;
    event.code = code; // 0 for keys without a code, as the other back ends report them
    event.device = device;
    push(event);
}

void Win32RawInputBackEnd::push(const InputEvent& event)
{
    if (!m_ring)
        return;
    if (void* place = m_ring->push(event.type, sizeof event))
        std::memcpy(place, &event, sizeof event);
}

} // namespace quern::input
