#pragma once
// The process-wide table of named float values that the engine and the game
// show and tune: display statistics, renderer counters, game values. Each is
// found by its group and name, both packed names, and kept in key order.

#include "quern/Types.h"
#include "quern/debug/MutexImpl.h"
#include "quern/parameter/Parameter.h"

#include <atomic>
#include <map>
#include <utility>

namespace quern {

class ParameterRegistry {
public:
    ParameterRegistry() = default;
    ~ParameterRegistry();
    ParameterRegistry(const ParameterRegistry&) = delete;
    ParameterRegistry& operator=(const ParameterRegistry&) = delete;

    // The process's registry, made on first use and destroyed at exit.
    static ParameterRegistry& instance();

    // The parameter of (group, name), made with value 0 on first request.
    Parameter* getParameter(u64 group, u64 name);
    u64 parameterCount() const;

    // With deferral on, changes are queued per parameter until flushDeferred
    // (the threaded update turns it on at start-up).
    void setDeferNotifications(bool defer) { m_deferNotifications.store(defer, std::memory_order_relaxed); }
    bool defersNotifications() const { return m_deferNotifications.load(std::memory_order_relaxed); }

    // Parameter::update of every parameter, in key order.
    void update(f32 frameTime);

    // Calls function(Parameter&) for every parameter in key order. Parameters
    // made by the function itself are visited when they sort after the current one.
    template <typename Function>
    void forEach(Function&& function)
    {
        debug::MutexLock lock(m_lock);
        for (auto& entry : m_parameters)
            function(*entry.second);
    }

private:
    using Key = std::pair<u64, u64>; // (group, name): ordered by group, then name

    std::map<Key, Parameter*> m_parameters;
    std::atomic<bool> m_deferNotifications{false};
    mutable debug::MutexImpl m_lock;
};

} // namespace quern
