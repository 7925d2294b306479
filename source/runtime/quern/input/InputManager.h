#pragma once
// The engine's input front end. A back end pushes input events and device
// changes into the manager's fixed ring; once per update the manager drains
// it: device changes go to the device listeners and refresh the per-device
// controller mappings, every other event is translated through its device's
// mapping, handed to every listener and applied to the registered contexts.
//
// No lock: the ring is filled on the main thread and drained in the world
// task of the next frame, never at the same time.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/containers/EventQueue.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputEvent.h"

#include <ostream>

namespace quern::input {

class InputBackEnd;
class InputContext;
class InputListener;
class InputDeviceListener;

using InputEventHook = void (*)(const InputEvent& event);

class InputManager {
public:
    // The ring never grows: a back end drops what does not fit (about 85 input
    // events between two updates).
    static constexpr u64 kRingSize = 2048;

    // Without a back end the manager makes, opens and owns the platform's
    // raw-input back end. A null allocator means the process default.
    explicit InputManager(InputBackEnd* backEnd, memory::Allocator* allocator = nullptr);
    ~InputManager();
    InputManager(const InputManager&) = delete;
    InputManager& operator=(const InputManager&) = delete;

    // Clears every context's per-frame state, then drains the ring.
    void update();

    containers::EventQueue& getEventQueue() { return m_ring; }
    InputBackEnd* getBackEnd() const { return m_backEnd; }
    bool ownsBackEnd() const { return m_ownsBackEnd; }

    // Registration appends (no duplicate check); the pointers are not owned.
    void addContext(InputContext* context);
    void addListener(InputListener* listener);
    void addDeviceListener(InputDeviceListener* listener);
    // Removes every occurrence, keeping the order of the rest.
    void removeContext(InputContext* context);
    void removeListener(InputListener* listener);

    // Rebuilds the per-device mappings from the back end's device list.
    void refreshDeviceRecords();
    // Zeroes every context's held and modifier counters (the display was
    // resized or lost the focus, so releases may never arrive).
    void resetHeldStates();

    // Writes every device name of the back end, in index order, separated by ", ".
    static void writeDeviceList(std::ostream& stream, InputBackEnd& backEnd);

    void setEventHook(InputEventHook hook) { m_eventHook = hook; }
    // Cleared in test runs, so that contexts receive no input at all.
    bool evaluateBindings() const { return m_evaluateBindings; }
    void setEvaluateBindings(bool evaluate) { m_evaluateBindings = evaluate; }

    u64 contextCount() const { return m_contexts.count(); }
    InputContext* contextAt(u64 index) const { return m_contexts.at<InputContext*>(index); }
    u64 listenerCount() const { return m_listeners.count(); }
    u64 deviceRecordCount() const { return m_deviceRecords.count(); }
    const GameControllerMapping& deviceRecord(u64 index) const
    {
        return m_deviceRecords.at<GameControllerMapping>(index);
    }

private:
    void handleDeviceEvent(const InputDeviceEvent& event);
    void handleInputEvent(InputEvent& event);
    void dispatchToListeners(const InputEvent& event);

    memory::Allocator* m_allocator;
    containers::Array m_contexts; // InputContext*
    containers::Array m_listeners; // InputListener*
    containers::Array m_deviceListeners; // InputDeviceListener*
    containers::Array m_deviceRecords; // GameControllerMapping per device index
    containers::EventQueue m_ring;
    InputEventHook m_eventHook = nullptr;
    InputBackEnd* m_backEnd = nullptr;
    bool m_ownsBackEnd = false;
    bool m_evaluateBindings = true;
};

} // namespace quern::input
