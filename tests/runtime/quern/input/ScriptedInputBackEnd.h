#pragma once
// An input back end that plays a script: a fixed device list and the events
// the next poll pushes, as a platform would deliver them.

#include "quern/containers/EventQueue.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputBackEnd.h"

#include <cstring>
#include <string>
#include <vector>

namespace quern::testing {

struct ScriptedDevice {
    i32 kind = input::kInputDeviceKeyboard;
    std::string name;
    bool hasMapping = false;
    input::GameControllerMapping mapping;
};

class ScriptedInputBackEnd final : public input::InputBackEnd {
public:
    void open(input::InputBackEndStatus& status) override { status = {}; }
    void close() override { ++closes; }
    void warpMouse(i32, i32) override { }
    void showCursor(bool) override { }
    bool setRelativeMouseMode(bool) override { return true; }
    void pollEvents(containers::EventQueue& ring) override
    {
        for (const Pending& pending : script) {
            if (void* place = ring.push(pending.type, pending.size))
                std::memcpy(place, pending.payload, pending.size);
            else
                ++dropped;
        }
        script.clear();
    }
    i32 getDeviceCount() override { return static_cast<i32>(devices.size()); }
    void getDeviceInfo(u8 device, input::InputDeviceInfo& info) override
    {
        ++deviceInfoCalls;
        const ScriptedDevice& d = devices.at(device);
        info.kind = d.kind;
        info.name = d.name.c_str();
        info.mapping = d.hasMapping ? &d.mapping : nullptr;
    }
    void rumble(u8, u16, u32) override { }
    const char* getStatusText() override { return ""; }
    input::InputOrigin getInputOrigin(u8, u16, i32) override { return input::InputOrigin::Unknown; }

    // Queues an input event for the next poll.
    void queue(u16 type, i32 code, i32 value = 0, i32 button = 0, u8 device = 0)
    {
        Pending pending;
        pending.type = type;
        pending.size = sizeof(input::InputEvent);
        input::InputEvent event;
        event.type = type;
        event.code = code;
        event.value = value;
        event.button = button;
        event.device = device;
        std::memcpy(pending.payload, &event, sizeof event);
        script.push_back(pending);
    }
    // Queues a device change for the next poll.
    void queueDevice(u16 type, u8 device)
    {
        Pending pending;
        pending.type = type;
        pending.size = sizeof(input::InputDeviceEvent);
        input::InputDeviceEvent change { type, device };
        std::memcpy(pending.payload, &change, sizeof change);
        script.push_back(pending);
    }

    struct Pending {
        u16 type = 0;
        u64 size = 0;
        alignas(4) u8 payload[sizeof(input::InputEvent)] = {};
    };
    std::vector<Pending> script;
    std::vector<ScriptedDevice> devices;
    int dropped = 0;
    int closes = 0;
    int deviceInfoCalls = 0;
};

} // namespace quern::testing
