#pragma once
// Which game systems each world gets, and in which order the world ticks and
// updates them: one table, one row per system. All of a world's systems are
// created first (some constructors take systems made before them), then
// registered in table order.

#include "quern/Types.h"

#include <span>

namespace quern::entity {
class System;
}

namespace harmonize {

using quern::i32;
using quern::u64;

struct AppContext;
struct SoakTestDriver;

enum class SystemWorlds : quern::u8 {
    All,
    LevelWorlds, // worlds 0 and 1
    FrontEnd, // world 2
};

enum class SystemCondition : quern::u8 {
    Always,
    TestMode, // only with the Test setting "test"
    Sanity, // only with the Development setting "sanity"
};

// What a world's systems are made with, beyond its context.
struct SystemSetup {
    bool testMode = false;
    bool sanity = false;
    SoakTestDriver* soakTest = nullptr; // needed in test mode
    u64 seed = 0; // random state of the systems that take one
};

struct SystemRow {
    const char* name;
    SystemWorlds worlds;
    SystemCondition condition;
    // Creates the system (with the global allocation operator) and sets its
    // pointer in the context where the context has one.
    quern::entity::System* (*create)(AppContext& context, const SystemSetup& setup);
};

std::span<const SystemRow> systemRegistrationTable();

// Whether a world (front end or level world) with these settings gets the row.
bool worldGetsSystem(const SystemRow& row, bool frontEnd, const SystemSetup& setup);

} // namespace harmonize
