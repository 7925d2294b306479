#pragma once
// The process around the game: error handling, memory, the user's folder and
// the fatal-error and crash callbacks that end it.

#include "quern/Types.h"

namespace quern::memory {
class Allocator;
}
namespace quern::platform {
struct ExceptionPointers;
}
namespace quern::serialize {
struct StringTable;
}

namespace harmonize {

using quern::i32;
using quern::u32;
using quern::u64;

inline constexpr const char* kCrashQuestion
    = "Tin Lantern Run crashed. We're very sorry about that!\nDo you want to save a crash dump?";
// The dump type when not in retail mode: full auxiliary state, thread
// information, full memory information, process and thread data, unloaded
// modules and handle data.
inline constexpr u32 kFullDumpType = 0x9924;

// Stores onFatalError as the fatal-error callback, turns the runtime's own
// reports into the engine's, installs the crash handler with onCrash and the
// crash question, and remembers the calling thread as the main thread.
void installErrorHandlers();
// The fatal-error callback: logs the message and the stack; on the main thread
// and with dialogs allowed also saves the log and shows the message; then runs
// onCrash without exception information and saves the log again. The caller aborts.
void onFatalError(const char* message, const char* sourceFile, u32 line);
// The crash callback: dump type, dump folder, the dump itself and the stack on
// standard error.
void onCrash(u32 exceptionCode, quern::platform::ExceptionPointers* pointers, bool interactive);
bool isMainThread();
// Under Test.test or Development.floatExceptions the floating-point traps go
// on; under Test.test or Development.headless no dialog is ever shown.
void applyErrorSettings();

// "Command line:" and every argument after a blank, at level 3.
void logCommandLine(i32 argc, char** argv);

// Where the settings' strings live before any heap exists: a small static
// buffer, then the default allocator.
quern::memory::Allocator* getSettingsBootstrapAllocator();

// The engine allocators from the Development settings, then the level heaps.
void initAllocators();
void shutdownAllocators();
// Level heap 0 or 1; null when there is no level-heap block.
quern::memory::Allocator* getLevelHeap(i32 index);
// The whole level-heap block's size in bytes (0 without one).
u64 levelHeapBlockSize();

// The user directory from Development.userFilePath (or the platform's user
// folder when it is empty); the first call also starts the storage worker.
void initUserStorage();
void shutdownUserStorage();
// The user directory in use.
const char* userDirectory();

// Writes the in-memory log to "harmonizelog.txt" in the user directory.
void saveLog();

void setLoggedIn(bool loggedIn);
bool isLoggedIn();

// Frees the table's block through its own allocator, then the record through
// `allocator`; a null table does nothing.
void releaseStringTable(quern::memory::Allocator* allocator, quern::serialize::StringTable* table);

} // namespace harmonize
