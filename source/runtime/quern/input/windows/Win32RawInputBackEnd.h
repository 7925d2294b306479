#pragma once
// The input manager's default back end: keyboards, mice and HID joysticks and
// gamepads read through the raw-input interface and the HID parser library,
// for the thread's own windows and message queue.

#include "quern/input/InputBackEnd.h"
#include "quern/input/windows/RawInputPlatform.h"

#include <string>
#include <vector>

namespace quern::input {

class Win32RawInputBackEnd final : public InputBackEnd {
public:
    struct Device {
        RawInputHandle handle = 0;
        std::string name;
        std::vector<u8> previousButtons; // HID: one byte per button, set while pressed
        i32 buttonCount = 0; // HID only
        i32 kind = kInputDeviceNone;
        std::vector<u8> preparsed; // HID only
        HidCaps caps;
        std::vector<HidButtonCaps> buttonCaps;
        std::vector<HidValueCaps> valueCaps;
    };

    // Null: this system's raw input.
    explicit Win32RawInputBackEnd(RawInputPlatform* platform = nullptr);
    ~Win32RawInputBackEnd() override;

    void open(InputBackEndStatus& status) override;
    void close() override;
    void warpMouse(i32 x, i32 y) override;
    void showCursor(bool visible) override;
    bool setRelativeMouseMode(bool relative) override;
    void pollEvents(containers::EventQueue& ring) override;
    i32 getDeviceCount() override;
    void getDeviceInfo(u8 device, InputDeviceInfo& info) override;
    // Joysticks read here cannot rumble and report no origin.
    void rumble(u8, u16, u32) override { }
    const char* getStatusText() override { return ""; }
    InputOrigin getInputOrigin(u8, u16, i32) override { return InputOrigin::Unknown; }

    // Enumerates the devices again, replacing the list.
    void queryDevices();
    // Handles one message of the thread's queue; pollEvents runs it for each.
    void handleMessage(const PlatformMessage& message);

    const std::vector<Device>& devices() const { return m_devices; }
    bool hidUnavailable() const { return m_hidFailed; }
    WindowHandle registeredWindow() const { return m_window; }
    u32 registeredUsageCount() const { return m_registeredUsages; }
    bool relativeMouseMode() const { return m_relativeMouse; }

private:
    bool openHidDevice(Device& device);
    bool loadHid();
    void registerFor(WindowHandle window);
    void unregister();
    void handleRawInput(u64 record);
    void translateMouse(const u8* data, u8 device);
    void translateKeyboard(const u8* data, u8 device);
    void translateHid(const u8* data, u32 size, Device& device, u8 index);
    void translateHidReport(Device& device, u8 index, const u8* report, u32 length);
    void push(const InputEvent& event);

    RawInputPlatform& m_platform;
    std::vector<Device> m_devices;
    bool m_cursorVisible = true;
    bool m_relativeMouse = false;

    WindowHandle m_window = 0; // the window raw input is registered for
    u32 m_registeredUsages = 0;
    containers::EventQueue* m_ring = nullptr; // during pollEvents only
    i32 m_pointerX = 0;
    i32 m_pointerY = 0;
    CursorHandle m_savedCursor = 0;
    bool m_hidLoaded = false;
    bool m_hidFailed = false;
};

// The hook pollEvents runs for every message it takes: hands the message to
// the back end whose poll is in progress on this thread (none: nothing happens).
void win32RawInputBackEndWndProc(const PlatformMessage& message);

// The engine key code of a raw keyboard record's key; 0 when the key has none,
// -1 for the fake key that carries no key at all.
i32 rawKeyToKeyCode(u16 virtualKey, u16 scanCode, u16 flags);

// The HID parser's description of a status code.
const char* getHidStatusText(u32 status);

} // namespace quern::input
