#include "quern/startup/StaticObjects.h"

#include "quern/memory/DebugHeap.h"
#include "quern/platform/AssertDebug.h"
#include "quern/platform/ErrorReporting.h"

#include <atomic>

namespace quern::startup {
namespace {

constexpr u32 kMaxObjects = 8;

// Constant-initialised: usable before any initialiser has run.
StaticObject g_built[kMaxObjects] = {};
u32 g_builtCount = 0;
std::atomic<bool> g_started{false};

void record(StaticObject object)
{
    if (g_builtCount < kMaxObjects)
        g_built[g_builtCount++] = object;
}

// The lowest priority a program may use: this runs before every static
// initialiser without one, in whatever file and link order.
struct StaticObjectsInitialiser {
    StaticObjectsInitialiser() { initStaticObjects(); }
};
__attribute__((init_priority(101))) StaticObjectsInitialiser g_initialiser;

} // namespace

void initStaticObjects()
{
    if (g_started.exchange(true))
        return;
    memory::DebugHeap::instance();
    record(StaticObject::DebugHeap);
    platform::registerDefaultAssertionHandlers();
    record(StaticObject::AssertionHandlers);
}

u32 builtStaticObjectCount() { return g_builtCount; }

StaticObject builtStaticObject(u32 index)
{
    if (index >= g_builtCount)
        QUERN_FATAL("Static object index out of range");
    return g_built[index];
}

const char* staticObjectName(StaticObject object)
{
    switch (object) {
    case StaticObject::DebugHeap:
        return "DebugHeap";
    case StaticObject::AssertionHandlers:
        return "AssertionHandlers";
    }
    QUERN_FATAL_INVALID_ENUM("StaticObject");
}

} // namespace quern::startup

// Named in the link options of every program that links this library.
extern "C" void quern_static_objects_anchor() {}
