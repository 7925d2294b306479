#pragma once
// What the raw-input back end needs of the operating system: the raw-input
// device list and records, the thread's message pump and raw-input
// registration, the cursor, and six entry points of the HID parser library.
// Records arrive as the system lays them out (a header, then the device's
// data); the back end reads them field by field and checks every size.
//
// This system has no raw input: its answer (systemRawInputPlatform) is that of
// a machine without raw-input devices, so the back end finds nothing there.

#include "quern/Types.h"

#include <string>
#include <vector>

namespace quern::input {

using RawInputHandle = u64; // a raw-input device
using WindowHandle = u64; // 0: none
using CursorHandle = u64; // 0: no cursor

enum RawInputDeviceType : u32 {
    kRawInputMouse = 0,
    kRawInputKeyboard = 1,
    kRawInputHid = 2,
};

struct RawInputDeviceEntry {
    RawInputHandle device = 0;
    u32 type = kRawInputMouse;
};

// Device information; the usage page and usage are those of HID devices.
struct RawInputDeviceInfo {
    u32 type = kRawInputMouse;
    u16 usagePage = 0;
    u16 usage = 0;
};

// One usage to receive raw input for; `remove` stops receiving it.
struct RawInputRegistration {
    u16 usagePage = 0;
    u16 usage = 0;
    bool remove = false;
    WindowHandle target = 0;
};

struct PlatformMessage {
    WindowHandle window = 0;
    u32 message = 0;
    u64 wParam = 0;
    u64 lParam = 0;
};

inline constexpr u32 kMessageSetCursor = 0x0020;
inline constexpr u32 kMessageInput = 0x00ff; // lParam: the record to read
inline constexpr u16 kHitTestClient = 1; // low word of a set-cursor lParam

// Raw-input record layout: a 24-byte header {u32 type, u32 size, u64 device,
// u64 wParam}, then the mouse (24 bytes), keyboard (16 bytes) or HID data
// ({u32 report size, u32 report count, the reports}).
inline constexpr u32 kRawInputHeaderSize = 24;
inline constexpr u32 kRawMouseSize = 24;
inline constexpr u32 kRawKeyboardSize = 16;
inline constexpr u32 kRawHidHeaderSize = 8;

// Mouse record: u16 flags, u16 padding, u16 button flags, u16 button data,
// u32 raw buttons, i32 x, i32 y, u32 extra information.
inline constexpr u16 kMouseMoveAbsolute = 0x0001;
// Button transition flags, down and up per button: left, right, middle, 4, 5.
inline constexpr u16 kMouseLeftDown = 0x0001;
inline constexpr u16 kMouseLeftUp = 0x0002;
inline constexpr u16 kMouseRightDown = 0x0004;
inline constexpr u16 kMouseRightUp = 0x0008;
inline constexpr u16 kMouseMiddleDown = 0x0010;
inline constexpr u16 kMouseMiddleUp = 0x0020;
inline constexpr u16 kMouseButton4Down = 0x0040;
inline constexpr u16 kMouseButton4Up = 0x0080;
inline constexpr u16 kMouseButton5Down = 0x0100;
inline constexpr u16 kMouseButton5Up = 0x0200;

// Keyboard record: u16 scan code, u16 flags, u16 reserved, u16 virtual key,
// u32 message, u32 extra information.
inline constexpr u16 kRawKeyBreak = 0x0001; // released
inline constexpr u16 kRawKeyExtended = 0x0002; // the E0 prefix

// HID parser status codes.
enum HidStatus : u32 {
    kHidSuccess = 0x00110000,
    kHidNull = 0x80110001,
    kHidInvalidPreparsedData = 0xc0110001,
    kHidInvalidReportType = 0xc0110002,
    kHidInvalidReportLength = 0xc0110003,
    kHidUsageNotFound = 0xc0110004,
    kHidValueOutOfRange = 0xc0110005,
    kHidBadLogPhyValues = 0xc0110006,
    kHidBufferTooSmall = 0xc0110007,
    kHidIncompatibleReportId = 0xc011000a,
    kHidIsValueArray = 0xc011000c,
    kHidDataIndexNotFound = 0xc011000d,
    kHidButtonNotPressed = 0xc011000f,
    kHidReportDoesNotExist = 0xc0110010,
};

inline constexpr u16 kHidUsagePageGenericDesktop = 1;
inline constexpr u16 kHidUsagePageButton = 9;
inline constexpr u16 kHidUsageJoystick = 4;
inline constexpr u16 kHidUsageGamepad = 5;

struct HidCaps {
    u16 usagePage = 0;
    u16 usage = 0;
    u16 inputReportByteLength = 0;
    u16 numberInputButtonCaps = 0;
    u16 numberInputValueCaps = 0;
};

struct HidButtonCaps {
    u16 usagePage = 0;
    u16 usageMin = 0; // a single usage has min = max
    u16 usageMax = 0;
};

struct HidValueCaps {
    u16 usagePage = 0;
    u16 usage = 0;
    u16 bitSize = 0;
    i32 logicalMin = 0;
    i32 logicalMax = 0;
};

class RawInputPlatform {
public:
    virtual ~RawInputPlatform() = default;

    // Devices. A false result means the call failed (see lastError).
    virtual bool getDeviceCount(u32& count) = 0;
    virtual bool getDeviceList(std::vector<RawInputDeviceEntry>& devices) = 0;
    virtual bool getDeviceName(RawInputHandle device, std::string& name) = 0;
    virtual bool getDeviceInfo(RawInputHandle device, RawInputDeviceInfo& info) = 0;
    virtual bool getPreparsedData(RawInputHandle device, std::vector<u8>& data) = 0;
    // The system error code of the last failed call.
    virtual u32 lastError() = 0;

    // Records: the size of the record a raw-input message names (0 on
    // failure), then the record itself, exactly that many bytes.
    virtual u32 getRawInputSize(u64 record) = 0;
    virtual bool readRawInput(u64 record, void* buffer, u32 size) = 0;

    // The thread's messages, of one window (0: of all the thread's windows).
    virtual bool peekMessage(WindowHandle window, PlatformMessage& message) = 0;
    virtual void translateAndDispatch(const PlatformMessage& message) = 0;
    virtual bool registerRawInputDevices(const RawInputRegistration* registrations, u32 count) = 0;
    virtual WindowHandle getFocus() = 0;

    virtual CursorHandle getCursor() = 0;
    virtual void setCursor(CursorHandle cursor) = 0;
    virtual void setClassCursor(WindowHandle window, CursorHandle cursor) = 0;
    virtual void clientToScreen(WindowHandle window, i32& x, i32& y) = 0;
    virtual void setCursorPosition(i32 x, i32 y) = 0;

    // The HID parser library: true once it and its six entry points are found.
    virtual bool loadHidLibrary() = 0;
    virtual u32 hidGetCaps(const std::vector<u8>& preparsed, HidCaps& caps) = 0;
    virtual u32 hidGetButtonCaps(const std::vector<u8>& preparsed, std::vector<HidButtonCaps>& caps) = 0;
    virtual u32 hidGetValueCaps(const std::vector<u8>& preparsed, std::vector<HidValueCaps>& caps) = 0;
    // Input reports only; `usages` holds at most its size on entry.
    virtual u32 hidGetUsages(
        u16 usagePage, std::vector<u16>& usages, const std::vector<u8>& preparsed, const u8* report, u32 reportLength)
        = 0;
    virtual u32 hidGetUsageValue(
        u16 usagePage, u16 usage, u32& value, const std::vector<u8>& preparsed, const u8* report, u32 reportLength)
        = 0;
    virtual u32 hidGetScaledUsageValue(
        u16 usagePage, u16 usage, i32& value, const std::vector<u8>& preparsed, const u8* report, u32 reportLength)
        = 0;
};

// This system's answer: no raw-input devices, no messages, no HID library.
RawInputPlatform& systemRawInputPlatform();

} // namespace quern::input
