#pragma once
// What a parameter tells the objects that watch it: the start of every frame,
// the frame's update, and each change of its value.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

namespace quern {

class Parameter;

// The value as listeners receive it: the number, then bytes that travel with
// it unread (zero).
struct ParameterValue {
    f32 value = 0.0f;
    u8 reserved[12] = {};
};
static_assert(sizeof(ParameterValue) == 16, "a parameter value slot is 16 bytes");

// Reference counted: a parameter holds one reference per registration and
// releases it when the parameter goes away.
class ParameterListener : public RefCounted {
public:
    virtual void beginFrame() {}
    virtual void update(f32 frameTime) { (void)frameTime; }
    // `value` is valid for the duration of the call only.
    virtual void valueChanged(const ParameterValue* value, Parameter* parameter)
    {
        (void)value;
        (void)parameter;
    }
};

} // namespace quern
