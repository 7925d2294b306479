#pragma once
// One named float value of the parameter registry, with the listeners that
// watch it. Values set while the registry defers notifications are queued and
// handed to the listeners by flushDeferred, on the main thread at frame end.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/debug/MutexImpl.h"
#include "quern/parameter/ParameterListener.h"
#include "quern/strings/String.h"

#include <atomic>

namespace quern {

class ParameterRegistry;

class Parameter {
public:
    // Value 0, no listeners, display name "<group>.<name>" from the packed ids.
    Parameter(ParameterRegistry& registry, u64 group, u64 name);
    // Frees the queued values and releases every listener handle.
    ~Parameter();
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;

    u64 group() const { return m_group; }
    u64 name() const { return m_name; }
    const char* displayName() const { return m_displayName.c_str(); }
    void setDisplayName(const char* text) { m_displayName.assign(text); }

    f32 value() const { return m_value.load(std::memory_order_relaxed); }
    // Stores the value and tells every listener, at once or at the next
    // flushDeferred when the registry defers.
    void setValue(f32 value);

    // Appends a retained handle; the same listener added twice is told twice.
    // A null listener is fatal.
    void addListener(ParameterListener* listener);
    u64 listenerCount() const { return m_listeners.count(); }

    void beginFrame();
    void update(f32 frameTime);
    // Hands every queued value to the listeners in the order they were set,
    // then empties the queue. Values set by a listener during the flush wait
    // for the next one.
    void flushDeferred();
    u64 deferredCount() const;

private:
    ParameterListener* listenerAt(u64 index) const;
    void notify(const ParameterValue& value);

    ParameterRegistry& m_registry;
    u64 m_group;
    u64 m_name;
    strings::String m_displayName;
    std::atomic<f32> m_value{0.0f};
    containers::Array m_listeners; // Ref
    containers::Array m_deferred;  // ParameterValue
    // Worker threads may set values while the registry defers.
    mutable debug::MutexImpl m_deferredLock;
};

} // namespace quern
