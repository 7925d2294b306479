#include "quern/parameter/Parameter.h"

#include "quern/parameter/ParameterRegistry.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/PackedName.h"

#include <new>

namespace quern {
namespace {

strings::String displayNameOf(u64 group, u64 name)
{
    strings::String text = unpackName(group);
    text.append(".");
    const strings::String nameText = unpackName(name);
    text.append(nameText.c_str());
    return text;
}

} // namespace

Parameter::Parameter(ParameterRegistry& registry, u64 group, u64 name)
    : m_registry(registry), m_group(group), m_name(name), m_displayName(displayNameOf(group, name)),
      m_listeners(sizeof(Ref), alignof(Ref)), m_deferred(sizeof(ParameterValue), alignof(ParameterValue))
{
}

Parameter::~Parameter()
{
    m_deferred.release();
    for (u64 i = 0; i < m_listeners.count(); ++i)
        static_cast<Ref*>(m_listeners.at(i))->~Ref();
    m_listeners.release();
}

void Parameter::setValue(f32 value)
{
    m_value.store(value, std::memory_order_relaxed);
    ParameterValue slot;
    slot.value = value;
    if (!m_registry.defersNotifications()) {
        notify(slot);
        return;
    }
    debug::MutexLock lock(m_deferredLock);
    m_deferred.push(&slot);
}

void Parameter::addListener(ParameterListener* listener)
{
    if (!listener)
        QUERN_FATAL("Parameter listener is null");
    void* place = m_listeners.expand(m_listeners.count() + 1);
    new (place) Ref(listener);
}

ParameterListener* Parameter::listenerAt(u64 index) const
{
    return static_cast<const Ref*>(m_listeners.at(index))->get<ParameterListener>();
}

// By index, re-reading the count: a listener may add listeners while it is told.
void Parameter::notify(const ParameterValue& value)
{
    for (u64 i = 0; i < m_listeners.count(); ++i)
        listenerAt(i)->valueChanged(&value, this);
}

void Parameter::beginFrame()
{
    for (u64 i = 0; i < m_listeners.count(); ++i)
        listenerAt(i)->beginFrame();
}

void Parameter::update(f32 frameTime)
{
    for (u64 i = 0; i < m_listeners.count(); ++i)
        listenerAt(i)->update(frameTime);
}

void Parameter::flushDeferred()
{
    // Take the queue out first, so values that listeners set while they are
    // told go to a fresh queue instead of the block being walked.
    containers::Array pending(sizeof(ParameterValue), alignof(ParameterValue));
    {
        debug::MutexLock lock(m_deferredLock);
        if (m_deferred.isEmpty())
            return;
        pending = std::move(m_deferred);
        m_deferred = containers::Array(sizeof(ParameterValue), alignof(ParameterValue), pending.allocator());
    }
    for (u64 i = 0; i < pending.count(); ++i)
        notify(*static_cast<const ParameterValue*>(pending.at(i)));
}

u64 Parameter::deferredCount() const
{
    debug::MutexLock lock(m_deferredLock);
    return m_deferred.count();
}

} // namespace quern
