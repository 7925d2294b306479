#pragma once
// Shared pieces of the world tests: a system that writes every call it gets
// into a shared journal, and a capture of one log level.

#include "quern/debug/Logger.h"
#include "quern/entity/World.h"
#include "support/LogCapture.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace quern::entity::testing {

using Journal = std::vector<std::string>;

inline std::string listHandles(const EntityHandle* handles, u64 count)
{
    std::string text = "[";
    for (u64 i = 0; i < count; ++i) {
        if (i)
            text += ",";
        text += std::to_string(handles[i].index()) + ":" + std::to_string(handles[i].generation());
    }
    return text + "]";
}

class RecordingSystem : public System {
public:
    RecordingSystem(std::string name, Journal& journal)
        : m_name(std::move(name))
        , m_journal(journal)
    {
    }
    ~RecordingSystem() override { note("deleted"); }

    void entitiesCreated(const EntityHandle* h, u64 n, World&, memory::Allocator*) override
    {
        note("created" + listHandles(h, n));
    }
    void entitiesActivated(const EntityHandle* h, u64 n, World&) override { note("activated" + listHandles(h, n)); }
    void entitiesDeactivated(const EntityHandle* h, u64 n, World&) override { note("deactivated" + listHandles(h, n)); }
    void entitiesDestroyed(const EntityHandle* h, u64 n, World&, memory::Allocator*) override
    {
        note("destroyed" + listHandles(h, n));
    }
    void attach(memory::Allocator*) override { note("attach"); }
    void detach(memory::Allocator*) override { note("detach"); }
    void worldStarted(World&, memory::Allocator*) override { note("started"); }
    void worldStopped(World&, memory::Allocator*) override { note("stopped"); }
    void fixedTick(UpdateContext* context, World& world) override
    {
        if (recordTicks)
            note("tick@" + std::to_string(world.currentTime));
        if (onTick)
            onTick(*context, world);
    }
    void update(UpdateContext* context, World& world) override
    {
        note("update@" + std::to_string(world.currentTime));
        if (onUpdate)
            onUpdate(*context, world);
    }
    void lateUpdate(World&) override { note("late"); }
    void describe(SystemInfo* info) override { info->name = m_name.c_str(); }

    bool recordTicks = true;
    std::function<void(UpdateContext&, World&)> onTick;
    std::function<void(UpdateContext&, World&)> onUpdate;

private:
    void note(const std::string& what) { m_journal.push_back(m_name + ":" + what); }

    std::string m_name;
    Journal& m_journal;
};

using quern::testing::LogCapture;

} // namespace quern::entity::testing
