#pragma once
// The engine objects that exist before main. Static initialisers of different
// files run in no fixed order here, so these are built by one explicit step that
// runs ahead of every ordinary static initialiser of the program (and may be
// called again: it builds once). Objects built earlier are destroyed later at
// exit, so the assertion handlers outlive every static object built after them.
//
// Tables the engine needs before main (the CRC-32 table among them) are
// constant: they are complete when the program is built and need no step.

#include "quern/Types.h"

namespace quern::startup {

enum class StaticObject : u8 {
    DebugHeap,         // the process's guard-page heap object (never destroyed)
    AssertionHandlers, // the handlers of the levels 100, 200, 300 and 1000
};

// Builds the objects in their fixed order; later calls do nothing.
void initStaticObjects();

// What the start-up step built, in the order it built it.
u32 builtStaticObjectCount();
StaticObject builtStaticObject(u32 index);
const char* staticObjectName(StaticObject object);

} // namespace quern::startup
