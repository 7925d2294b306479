#include "quern/input/InputContext.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace quern::input {

namespace {

// Grows an array of small values so that `index` is inside it, zero-filling.
void growToHold(containers::Array& values, i32 index)
{
    const u64 wanted = static_cast<u64>(index) + 1;
    const u64 count = values.count();
    if (count < wanted)
        std::memset(values.expand(wanted), 0, (wanted - count) * values.elementSize());
}

template <class T> bool contains(const containers::Array& bindings, const T& binding)
{
    const T* all = bindings.dataAs<T>();
    for (u64 i = 0; i < bindings.count(); ++i) {
        if (all[i] == binding)
            return true;
    }
    return false;
}

template <class T> void appendUnique(containers::Array& bindings, const T& binding)
{
    if (!contains(bindings, binding))
        bindings.append(binding);
}

bool isPress(u16 type) { return type == KeyDown || type == MouseButtonDown || type == ControllerButtonDown; }
bool isRelease(u16 type) { return type == KeyUp || type == MouseButtonUp || type == ControllerButtonUp; }

// Keys and controller buttons carry their number in the code, mouse buttons in
// the button field; other types have no button number and match no binding.
struct ButtonNumber {
    i32 number = 0;
    bool present = false;

    bool matches(i32 code) const { return present && code == number; }
};

ButtonNumber buttonNumberOf(const InputEvent& event)
{
    switch (event.type) {
    case KeyDown:
    case KeyUp:
    case ControllerButtonDown:
    case ControllerButtonUp:
        return { event.code, true };
    case MouseButtonDown:
    case MouseButtonUp:
        return { event.button, true };
    default:
        return {};
    }
}

// One bit per event type or class; types past the mask share its top bit.
u32 typeBit(u16 type) { return 1u << (type < 31 ? type : 31); }

// Counters are signed bytes that never go below 0.
i8 stepCounter(i8 counter, i32 step)
{
    const i8 next = static_cast<i8>(counter + step);
    return next < 0 ? 0 : next;
}

} // namespace

i8 getInputEventClass(u16 eventType)
{
    switch (eventType) {
    case KeyDown:
    case KeyUp:
        return 0;
    case MouseButtonDown:
    case MouseButtonUp:
        return 2;
    case MouseMotion:
    case MouseWheel:
        return 4;
    case ControllerButtonDown:
    case ControllerButtonUp:
        return 6;
    case ControllerAxis:
        return 8;
    default:
        return 9;
    }
}

InputContext::InputContext()
    : m_allocator(m_arena, kArenaSize)
    , m_actionBindings(sizeof(ActionBinding), alignof(ActionBinding), &m_allocator)
    , m_actionCounts(sizeof(i32), alignof(i32), &m_allocator)
    , m_modifierCounters(sizeof(i8), alignof(i8), &m_allocator)
    , m_stateBindings(sizeof(StateBinding), alignof(StateBinding), &m_allocator)
    , m_heldCounters(sizeof(i8), alignof(i8), &m_allocator)
    , m_axisBindings(sizeof(AxisBinding), alignof(AxisBinding), &m_allocator)
    , m_axisValues(sizeof(i32), alignof(i32), &m_allocator)
{
}

InputContext::~InputContext() = default;

InputContext& InputContext::bindAction(i32 action, u16 eventType, i32 code)
{
    if (action < 0)
        return *this;
    ActionBinding binding {};
    binding.action = action;
    binding.code = static_cast<i16>(code);
    binding.eventType = static_cast<i8>(eventType);
    appendUnique(m_actionBindings, binding);
    m_actionTypes |= typeBit(eventType);
    growToHold(m_actionCounts, action);
    growToHold(m_modifierCounters, action);
    return *this;
}

InputContext& InputContext::bindState(i32 state, u16 eventType, i32 code)
{
    if (state < 0)
        return *this;
    StateBinding binding {};
    binding.state = state;
    binding.code = static_cast<i16>(code);
    binding.eventClass = getInputEventClass(eventType);
    appendUnique(m_stateBindings, binding);
    m_stateClasses |= typeBit(static_cast<u16>(binding.eventClass));
    growToHold(m_heldCounters, state);
    return *this;
}

void InputContext::addAxisBinding(i32 axis, i32 source, i8 eventClass, bool resetEachFrame, bool wheel)
{
    if (axis < 0)
        return;
    AxisBinding binding {};
    binding.axis = axis;
    binding.source = static_cast<i16>(source);
    binding.eventClass = eventClass;
    binding.resetEachFrame = resetEachFrame;
    binding.wheel = wheel;
    appendUnique(m_axisBindings, binding);
    m_axisClasses |= typeBit(static_cast<u16>(eventClass));
    growToHold(m_axisValues, axis);
}

InputContext& InputContext::bindMouseAxis(i32 axis, i32 source, bool resetEachFrame)
{
    addAxisBinding(axis, source, 4, resetEachFrame, false);
    return *this;
}

InputContext& InputContext::bindMouseWheel(i32 axis, i32 source)
{
    addAxisBinding(axis, source, 4, true, true);
    return *this;
}

InputContext& InputContext::bindControllerAxis(i32 axis, i32 controllerAxis)
{
    addAxisBinding(axis, controllerAxis, 8, false, false);
    return *this;
}

void InputContext::clearFrameState()
{
    if (!m_actionCounts.isEmpty())
        std::memset(m_actionCounts.data(), 0, m_actionCounts.usedBytes());
    i32* values = m_axisValues.dataAs<i32>();
    const AxisBinding* bindings = m_axisBindings.dataAs<AxisBinding>();
    for (u64 i = 0; i < m_axisBindings.count(); ++i) {
        if (bindings[i].resetEachFrame)
            values[bindings[i].axis] = 0;
    }
}

void InputContext::resetHeldStates()
{
    if (!m_heldCounters.isEmpty())
        std::memset(m_heldCounters.data(), 0, m_heldCounters.usedBytes());
    if (!m_modifierCounters.isEmpty())
        std::memset(m_modifierCounters.data(), 0, m_modifierCounters.usedBytes());
}

void InputContext::clearBindings()
{
    m_actionBindings.release();
    m_actionCounts.release();
    m_modifierCounters.release();
    m_stateBindings.release();
    m_heldCounters.release();
    m_axisBindings.release();
    m_axisValues.release();
    m_allocator.rewindArena();
    m_actionTypes = m_stateClasses = m_axisClasses = 0;
}

void InputContext::applyEvent(const InputEvent& event)
{
    // Most events concern a few of the bindings' types: the others' loops are skipped.
    if (m_actionTypes & typeBit(event.type))
        applyActions(event);
    const u32 eventClass = typeBit(static_cast<u16>(getInputEventClass(event.type)));
    if (m_stateClasses & eventClass)
        applyStates(event);
    if (m_axisClasses & eventClass)
        applyAxes(event);
}

void InputContext::applyActions(const InputEvent& event)
{
    const ActionBinding* bindings = m_actionBindings.dataAs<ActionBinding>();
    i32* counts = m_actionCounts.dataAs<i32>();
    i8* modifiers = m_modifierCounters.dataAs<i8>();
    const i32 step = event.type == KeyDown ? 1 : event.type == KeyUp ? -1 : 0;
    const i8 type = static_cast<i8>(event.type);
    const ButtonNumber button = buttonNumberOf(event);
    for (u64 i = 0; i < m_actionBindings.count(); ++i) {
        const ActionBinding& binding = bindings[i];
        i8& held = modifiers[binding.action];
        i32 required = 0;
        // Most bindings have no modifier keys: nothing to count for them.
        if (binding.modifier1 != 0 || binding.modifier2 != 0) {
            for (const i16 modifier : { binding.modifier1, binding.modifier2 }) {
                if (modifier == 0)
                    continue;
                ++required;
                if (step != 0 && event.code == modifier)
                    held = stepCounter(held, step);
            }
        }
        if (binding.eventType != type || held != required)
            continue;
        if (binding.code == -1 || button.matches(binding.code))
            ++counts[binding.action];
    }
}

void InputContext::applyStates(const InputEvent& event)
{
    const i32 step = isPress(event.type) ? 1 : isRelease(event.type) ? -1 : 0;
    if (step == 0)
        return;
    const i8 eventClass = getInputEventClass(event.type);
    const ButtonNumber button = buttonNumberOf(event);
    const StateBinding* bindings = m_stateBindings.dataAs<StateBinding>();
    i8* held = m_heldCounters.dataAs<i8>();
    for (u64 i = 0; i < m_stateBindings.count(); ++i) {
        const StateBinding& binding = bindings[i];
        if (binding.eventClass == eventClass && button.matches(binding.code))
            held[binding.state] = stepCounter(held[binding.state], step);
    }
}

void InputContext::applyAxes(const InputEvent& event)
{
    const i8 eventClass = getInputEventClass(event.type);
    const AxisBinding* bindings = m_axisBindings.dataAs<AxisBinding>();
    i32* values = m_axisValues.dataAs<i32>();
    for (u64 i = 0; i < m_axisBindings.count(); ++i) {
        const AxisBinding& binding = bindings[i];
        if (binding.eventClass != eventClass)
            continue;
        i16 candidate;
        bool write;
        if (eventClass == 4) {
            if ((event.type == MouseWheel) != binding.wheel)
                continue;
            candidate = static_cast<i16>(binding.source == 0 ? event.code : event.value);
            write = binding.resetEachFrame ? candidate != 0 : candidate != static_cast<i16>(values[binding.axis]);
        } else if (eventClass == 8) {
            candidate = static_cast<i16>(event.value);
            write = binding.source == event.code;
        } else {
            continue;
        }
        if (write)
            values[binding.axis] = candidate;
    }
}

i32 InputContext::getActionCount(i32 action) const
{
    if (!enabled || action < 0 || static_cast<u64>(action) >= m_actionCounts.count())
        return 0;
    return m_actionCounts.at<i32>(action);
}

bool InputContext::isStateHeld(i32 state) const
{
    if (!enabled || state < 0 || static_cast<u64>(state) >= m_heldCounters.count())
        return false;
    return m_heldCounters.at<i8>(state) != 0;
}

i32 InputContext::getAxisValue(i32 axis) const
{
    if (!enabled || axis < 0 || static_cast<u64>(axis) >= m_axisValues.count())
        return 0;
    return m_axisValues.at<i32>(axis);
}

StickVector InputContext::getStickVector() const
{
    if (!enabled)
        return {};
    const f32 scale = 1.0f / 32768.0f;
    const f32 x = static_cast<f32>(getAxisValue(1)) * scale;
    const f32 y = static_cast<f32>(getAxisValue(2)) * scale;
    const f32 length = std::sqrt(x * x + y * y);
    if (length <= 1.1920929e-7f)
        return {};
    if (length > 1.0f)
        return { x / length, y / length };
    return { x, y };
}

} // namespace quern::input
