#include "quern/input/InputManager.h"

#include "quern/input/InputBackEnd.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputListener.h"
#include "quern/input/windows/Win32RawInputBackEnd.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quern::input {

namespace {

// Device indices are bytes, so no more records than that can be addressed.
constexpr i32 kMaxDevices = 256;

void removeEvery(containers::Array& pointers, const void* pointer)
{
    void** all = pointers.dataAs<void*>();
    u64 kept = 0;
    for (u64 i = 0; i < pointers.count(); ++i) {
        if (all[i] != pointer)
            all[kept++] = all[i];
    }
    pointers.expand(kept);
}

// A copy of a listener list, so that a listener may add or remove listeners
// while it is being called.
class ListenerSnapshot {
public:
    explicit ListenerSnapshot(const containers::Array& listeners)
        : m_count(listeners.count())
    {
        if (m_count == 0)
            return;
        // A few listeners are the rule: they are copied without a heap block.
        m_pointers = m_inline;
        if (m_count > kInlineCount) {
            m_allocator = memory::getDefaultAllocator();
            m_pointers = static_cast<void**>(m_allocator->allocate(m_count * sizeof(void*), alignof(void*)));
            if (!m_pointers)
                QUERN_OUT_OF_MEMORY();
        }
        std::memcpy(m_pointers, listeners.data(), m_count * sizeof(void*));
    }
    ~ListenerSnapshot()
    {
        if (m_allocator)
            m_allocator->free(m_pointers);
    }
    ListenerSnapshot(const ListenerSnapshot&) = delete;
    ListenerSnapshot& operator=(const ListenerSnapshot&) = delete;

    u64 count() const { return m_count; }
    template <class T> T* at(u64 index) const { return static_cast<T*>(m_pointers[index]); }

private:
    static constexpr u64 kInlineCount = 8;

    memory::Allocator* m_allocator = nullptr;
    void** m_pointers = nullptr;
    u64 m_count;
    void* m_inline[kInlineCount];
};

template <class T> void readPayload(containers::EventHeader* record, T& out)
{
    // A short record leaves the rest of the event zero rather than reading past it.
    std::memcpy(&out, containers::EventQueue::payload(record), std::min<u64>(record->payloadSize, sizeof(T)));
}

} // namespace

InputManager::InputManager(InputBackEnd* backEnd, memory::Allocator* allocator)
    : m_allocator(allocator ? allocator : memory::getDefaultAllocator())
    , m_contexts(sizeof(InputContext*), alignof(InputContext*), m_allocator)
    , m_listeners(sizeof(InputListener*), alignof(InputListener*), m_allocator)
    , m_deviceListeners(sizeof(InputDeviceListener*), alignof(InputDeviceListener*), m_allocator)
    , m_deviceRecords(sizeof(GameControllerMapping), 4, m_allocator)
    , m_ring(m_allocator)
{
    m_ring.reserve(kRingSize);
    m_backEnd = backEnd;
    if (!m_backEnd) {
        void* place = m_allocator->allocate(sizeof(Win32RawInputBackEnd), alignof(Win32RawInputBackEnd));
        if (!place)
            QUERN_OUT_OF_MEMORY();
        m_backEnd = new (place) Win32RawInputBackEnd();
        // A back end that finds no devices still opens; its status says nothing more.
        InputBackEndStatus status;
        m_backEnd->open(status);
        m_ownsBackEnd = true;
    }
    refreshDeviceRecords();
}

InputManager::~InputManager()
{
    if (m_ownsBackEnd) {
        m_backEnd->close();
        m_backEnd->~InputBackEnd();
        m_allocator->free(m_backEnd);
    }
}

void InputManager::update()
{
    for (u64 i = 0; i < m_contexts.count(); ++i)
        contextAt(i)->clearFrameState();

    while (!m_ring.isEmpty()) {
        containers::EventHeader* record = m_ring.front();
        if (isDeviceEventType(record->type)) {
            InputDeviceEvent event;
            readPayload(record, event);
            m_ring.pop();
            handleDeviceEvent(event);
        } else {
            InputEvent event;
            readPayload(record, event);
            m_ring.pop();
            handleInputEvent(event);
        }
    }
}

void InputManager::handleDeviceEvent(const InputDeviceEvent& event)
{
    const ListenerSnapshot listeners(m_deviceListeners);
    for (u64 i = 0; i < listeners.count(); ++i)
        listeners.at<InputDeviceListener>(i)->onDeviceEvent(event, *this);
    refreshDeviceRecords();
}

void InputManager::handleInputEvent(InputEvent& event)
{
    const bool controller
        = event.type == ControllerButtonDown || event.type == ControllerButtonUp || event.type == ControllerAxis;
    // An event from a device without a record passes on as the back end gave it.
    if (controller && event.device < m_deviceRecords.count())
        deviceRecord(event.device).translate(event);

    dispatchToListeners(event);

    if (!m_evaluateBindings)
        return;
    const u32 deviceBit = 1u << (event.device % 32);
    for (u64 i = 0; i < m_contexts.count(); ++i) {
        InputContext* context = contextAt(i);
        if (context->deviceMask & deviceBit)
            context->applyEvent(event);
    }
}

void InputManager::dispatchToListeners(const InputEvent& event)
{
    if (m_eventHook)
        m_eventHook(event);
    const ListenerSnapshot listeners(m_listeners);
    for (u64 i = 0; i < listeners.count(); ++i)
        listeners.at<InputListener>(i)->onInputEvent(event, *this);
}

void InputManager::addContext(InputContext* context) { m_contexts.append(context); }
void InputManager::addListener(InputListener* listener) { m_listeners.append(listener); }
void InputManager::addDeviceListener(InputDeviceListener* listener) { m_deviceListeners.append(listener); }
void InputManager::removeContext(InputContext* context) { removeEvery(m_contexts, context); }
void InputManager::removeListener(InputListener* listener) { removeEvery(m_listeners, listener); }

void InputManager::refreshDeviceRecords()
{
    const i32 count = std::clamp(m_backEnd->getDeviceCount(), 0, kMaxDevices);
    const u64 previous = m_deviceRecords.count();
    m_deviceRecords.expand(static_cast<u64>(count));
    // New records start as the default mapping, never as stale memory.
    for (u64 i = previous; i < static_cast<u64>(count); ++i)
        new (m_deviceRecords.at(i)) GameControllerMapping();

    for (i32 i = 0; i < count; ++i) {
        InputDeviceInfo info;
        m_backEnd->getDeviceInfo(static_cast<u8>(i), info);
        if (info.kind != kInputDeviceGameController)
            continue;
        GameControllerMapping& record = m_deviceRecords.at<GameControllerMapping>(i);
        if (info.mapping)
            record = *info.mapping;
        else
            record.reset();
    }
}

void InputManager::resetHeldStates()
{
    for (u64 i = 0; i < m_contexts.count(); ++i)
        contextAt(i)->resetHeldStates();
}

void InputManager::writeDeviceList(std::ostream& stream, InputBackEnd& backEnd)
{
    const i32 count = std::clamp(backEnd.getDeviceCount(), 0, kMaxDevices);
    for (i32 i = 0; i < count; ++i) {
        InputDeviceInfo info;
        backEnd.getDeviceInfo(static_cast<u8>(i), info);
        if (i > 0)
            stream << ", ";
        stream << (info.name ? info.name : "");
    }
}

} // namespace quern::input
