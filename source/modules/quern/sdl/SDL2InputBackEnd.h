#pragma once
// Keyboard, mouse, joysticks and game controllers through the windowing
// library: SDL's event stream becomes input events and device changes in the
// input manager's ring, and the window's quit, resize and focus events reach
// the display that made this back end.
//
// Device numbers: 0 the keyboard, 1 the mouse, 2 + slot for each of the eight
// joystick slots. A joystick keeps its slot (and so its device number) from
// the moment it is added until it is removed, whatever SDL does to its own
// device indices in between.

#include "quern/Types.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputBackEnd.h"

#include <SDL2/SDL.h>

namespace quern::graphics {
class Display;
}

namespace quern::sdl {

class SDL2InputBackEnd final : public input::InputBackEnd {
public:
    static constexpr u32 kSlotCount = 8;
    static constexpr u8 kFirstJoystickDevice = 2;
    static constexpr u8 kNoDevice = 255;
    static constexpr u32 kScancodeCount = 512;
    static constexpr u64 kNameSize = 128;

    struct JoystickSlot {
        SDL_Joystick* joystick = nullptr; // null: the slot is free
        SDL_GameController* controller = nullptr;
        SDL_Haptic* haptic = nullptr;
        input::GameControllerMapping mapping;
        SDL_JoystickID instanceId = -1;
        u8 device = 0;
        u8 hatButtonBase = 0;
        bool rumbleSupported = false;
        // Taken when the joystick opened: SDL's index for it is only right then.
        char name[kNameSize] = {};
        u8 guid[16] = {};
    };

    // `windowEvents` receives quit, resize and focus; may be null.
    explicit SDL2InputBackEnd(graphics::Display* windowEvents);
    ~SDL2InputBackEnd() override;

    void open(input::InputBackEndStatus& status) override;
    void close() override;
    void warpMouse(i32 x, i32 y) override;
    void showCursor(bool visible) override;
    bool setRelativeMouseMode(bool relative) override;
    void pollEvents(containers::EventQueue& ring) override;
    // 2 + the slots ever used, so every device number an event carried has a record.
    i32 getDeviceCount() override;
    void getDeviceInfo(u8 device, input::InputDeviceInfo& info) override;
    void rumble(u8 device, u16 strength, u32 milliseconds) override;
    const char* getStatusText() override { return ""; }
    input::InputOrigin getInputOrigin(u8 device, u16 type, i32 code) override;

    // SDL's event as an input event; false when it carries none.
    bool translate(const SDL_Event& event, input::InputEvent& out) const;

    const JoystickSlot& slot(u32 index) const { return m_slots[index]; }
    u64 slotCount() const { return m_slotCount; }
    bool relativeMouseMode() const { return m_relativeMouseMode; }

    // The engine key code of an SDL scancode; 0 for keys without one.
    static i32 keyCodeForScancode(i32 scancode);

private:
    // Opens SDL's joystick `index` into the first free slot; its device
    // number, or kNoDevice when it is open already or no slot is free.
    u8 openJoystick(i32 index);
    void closeSlot(JoystickSlot& slot);
    // The device change an event makes; kNoDevice for none.
    void handleDeviceChange(const SDL_Event& event, containers::EventQueue& ring);
    void passWindowEvent(const SDL_Event& event);
    JoystickSlot* findSlot(SDL_JoystickID instanceId);
    const JoystickSlot* findSlot(SDL_JoystickID instanceId) const;

    JoystickSlot m_slots[kSlotCount];
    u64 m_slotCount = 0;
    graphics::Display* m_windowEvents;
    bool m_relativeMouseMode = false;
};

} // namespace quern::sdl
