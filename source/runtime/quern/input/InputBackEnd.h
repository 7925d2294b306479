#pragma once
// What the input manager needs of a platform's input: events pushed into its
// ring, the device list, and pointer and force-feedback control.

#include "quern/Types.h"
#include "quern/input/InputEvent.h"
#include "quern/input/InputOrigin.h"

namespace quern::containers {
class EventQueue;
}

namespace quern::input {

class InputBackEnd {
public:
    virtual ~InputBackEnd() = default;
    // Initialises the platform's input and enumerates its devices.
    virtual void open(InputBackEndStatus& status) = 0;
    // Releases every device.
    virtual void close() = 0;
    // Moves the pointer to a position in window coordinates.
    virtual void warpMouse(i32 x, i32 y) = 0;
    virtual void showCursor(bool visible) = 0;
    // Switches relative pointer motion on or off; true when the platform agreed.
    virtual bool setRelativeMouseMode(bool relative) = 0;
    // Pushes every pending platform event into the ring, as input events or
    // device changes; what does not fit is dropped.
    virtual void pollEvents(containers::EventQueue& ring) = 0;
    virtual i32 getDeviceCount() = 0;
    virtual void getDeviceInfo(u8 device, InputDeviceInfo& info) = 0;
    // Strength above 0 starts force feedback for `milliseconds`, 0 stops it.
    virtual void rumble(u8 device, u16 strength, u32 milliseconds) = 0;
    virtual const char* getStatusText() = 0;
    // The physical input a device's event type and code stand for.
    virtual InputOrigin getInputOrigin(u8 device, u16 type, i32 code) = 0;
};

} // namespace quern::input
