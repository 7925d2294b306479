#include "quern/parameter/ParameterRegistry.h"

namespace quern {

ParameterRegistry::~ParameterRegistry()
{
    for (auto& entry : m_parameters)
        delete entry.second;
    m_parameters.clear();
}

ParameterRegistry& ParameterRegistry::instance()
{
    static ParameterRegistry registry;
    return registry;
}

Parameter* ParameterRegistry::getParameter(u64 group, u64 name)
{
    debug::MutexLock lock(m_lock);
    Parameter*& parameter = m_parameters[Key(group, name)];
    if (!parameter)
        parameter = new Parameter(*this, group, name);
    return parameter;
}

u64 ParameterRegistry::parameterCount() const
{
    debug::MutexLock lock(m_lock);
    return m_parameters.size();
}

void ParameterRegistry::update(f32 frameTime)
{
    forEach([frameTime](Parameter& parameter) { parameter.update(frameTime); });
}

} // namespace quern
