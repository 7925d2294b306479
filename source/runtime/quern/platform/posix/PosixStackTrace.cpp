// Stack walking on Linux: GCC's libbacktrace gives function, file and line from
// the program's debug information; backtrace() + dladdr give at least the
// exported symbol names when libbacktrace is not available or not usable.

#include "quern/debug/MutexImpl.h"
#include "quern/debug/StackTrace.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#if QUERN_HAVE_LIBBACKTRACE
#include <backtrace.h>
#endif

namespace quern::debug {
namespace {

// Captures from several threads queue here; the same thread may re-enter
// (a crash inside a capture reaches the crash handler, which captures again).
MutexImpl& captureLock()
{
    static MutexImpl lock;
    return lock;
}

thread_local bool t_heapFree = false;

bool isWalkEnd(const char* function)
{
    return std::strcmp(function, "main") == 0 || std::strcmp(function, "WinMain") == 0;
}

// Demangles when the symbol is a mangled C++ name and reduces it to the
// qualified name; other names are kept as they are.
void storeFunctionName(StackFrame& frame, const char* symbol)
{
    if (!symbol || symbol[0] == '\0') {
        frame.function[0] = '\0';
        return;
    }
    if (symbol[0] == '_' && symbol[1] == 'Z' && t_heapFree) {
        if (!readMangledName(symbol, frame.function, sizeof frame.function))
            copyToField(frame.function, sizeof frame.function, symbol);
        return;
    }
    if (symbol[0] == '_' && symbol[1] == 'Z') {
        int status = 0;
        char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
        if (status == 0 && demangled) {
            qualifiedFunctionName(demangled, frame.function, sizeof frame.function);
            std::free(demangled);
            return;
        }
        std::free(demangled);
    }
    copyToField(frame.function, sizeof frame.function, symbol);
}

void clearFrame(StackFrame& frame, u64 address)
{
    frame.address = address;
    frame.line = 0;
    frame.function[0] = '\0';
    frame.file[0] = '\0';
}

// The floor: addresses from backtrace(), names of exported symbols from dladdr.
__attribute__((noinline)) u64 captureWithExecinfo(StackFrame* frames, u64 maxFrames, i32 skip)
{
    void* addresses[64 + StackTrace::kMaxFrames];
    const int wanted = static_cast<int>(sizeof addresses / sizeof addresses[0]);
    const int total = ::backtrace(addresses, wanted);
    u64 stored = 0;
    for (int i = skip; i < total && stored < maxFrames; ++i) {
        // Return addresses point after the call; step back into it.
        const u64 address = reinterpret_cast<uintptr_t>(addresses[i]) - 1;
        StackFrame& frame = frames[stored];
        clearFrame(frame, address);
        Dl_info info{};
        if (dladdr(addresses[i], &info) && info.dli_sname)
            storeFunctionName(frame, info.dli_sname);
        if (isWalkEnd(frame.function))
            break;
        ++stored;
    }
    return stored;
}

#if QUERN_HAVE_LIBBACKTRACE

std::atomic<backtrace_state*> g_state{nullptr};
std::atomic<bool> g_stateFailed{false};

void onStateError(void*, const char*, int) { g_stateFailed.store(true); }
void ignoreError(void*, const char*, int) {}

backtrace_state* state()
{
    backtrace_state* current = g_state.load(std::memory_order_acquire);
    if (current || g_stateFailed.load())
        return current;
    current = backtrace_create_state(nullptr, 1, &onStateError, nullptr);
    if (g_stateFailed.load())
        current = nullptr;
    g_state.store(current, std::memory_order_release);
    return current;
}

struct Walk {
    StackFrame* frames;
    u64 maxFrames;
    u64 stored;
};

int onFrame(void* data, uintptr_t pc, const char* file, int line, const char* function)
{
    Walk& walk = *static_cast<Walk*>(data);
    if (walk.stored >= walk.maxFrames)
        return 1;
    StackFrame& frame = walk.frames[walk.stored];
    clearFrame(frame, pc);
    storeFunctionName(frame, function);
    if (function && isWalkEnd(frame.function))
        return 1;
    if (function) {
        copyToField(frame.file, sizeof frame.file, file);
        frame.line = line > 0 ? line : 0;
    }
    ++walk.stored;
    return walk.stored >= walk.maxFrames ? 1 : 0;
}

void onSymbol(void* data, uintptr_t, const char* symbol, uintptr_t, uintptr_t)
{
    if (symbol)
        storeFunctionName(*static_cast<StackFrame*>(data), symbol);
}

// Frames without debug information still get a name from the symbol tables.
void nameFromSymbolTables(backtrace_state* walkState, StackFrame& frame)
{
    backtrace_syminfo(walkState, frame.address, &onSymbol, &ignoreError, &frame);
    if (frame.function[0] != '\0')
        return;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(frame.address), &info) && info.dli_sname)
        storeFunctionName(frame, info.dli_sname);
}

// Inlined calls share their caller's address and come first; the last frame of
// such a run is the real one, which the symbol tables describe.
bool isPhysicalFrame(const StackFrame* frames, u64 count, u64 index)
{
    return index + 1 == count || frames[index + 1].address != frames[index].address;
}

// Debug information names member functions without their class; the symbol
// table has the full name. It replaces the short one when it ends with it.
void qualifyFromSymbolTables(backtrace_state* walkState, StackFrame& frame)
{
    if (std::strstr(frame.function, "::"))
        return;
    StackFrame full = frame;
    full.function[0] = '\0';
    backtrace_syminfo(walkState, frame.address, &onSymbol, &ignoreError, &full);
    const u64 fullLength = std::strlen(full.function);
    const u64 shortLength = std::strlen(frame.function);
    if (fullLength > shortLength + 2 && std::strcmp(full.function + fullLength - shortLength, frame.function) == 0
        && full.function[fullLength - shortLength - 1] == ':')
        copyToField(frame.function, sizeof frame.function, full.function);
}

__attribute__((noinline)) u64 captureWithLibbacktrace(backtrace_state* walkState, StackFrame* frames, u64 maxFrames,
                                                       i32 skip)
{
    Walk walk{frames, maxFrames, 0};
    backtrace_full(walkState, skip, &onFrame, &ignoreError, &walk);
    for (u64 i = 0; i < walk.stored; ++i) {
        if (frames[i].function[0] == '\0') {
            nameFromSymbolTables(walkState, frames[i]);
            if (isWalkEnd(frames[i].function))
                return i;
        } else if (isPhysicalFrame(frames, walk.stored, i)) {
            qualifyFromSymbolTables(walkState, frames[i]);
        }
    }
    return walk.stored;
}

#endif

// Both walkers count physical frames from themselves (0), through this function
// (1) and captureStackTrace (2) to its caller (3). Every step is out of line and
// no call is a tail call, so those counts hold in optimised builds.
__attribute__((noinline)) u64 captureLocked(StackFrame* frames, u64 maxFrames, i32 skip)
{
    const i32 fromWalker = skip + 3;
#if QUERN_HAVE_LIBBACKTRACE
    if (backtrace_state* walkState = state()) {
        const u64 stored = captureWithLibbacktrace(walkState, frames, maxFrames, fromWalker);
        // Without debug information libbacktrace reports no frame at all.
        if (stored != 0)
            return stored;
    }
#endif
    const u64 stored = captureWithExecinfo(frames, maxFrames, fromWalker);
    asm volatile("" ::: "memory");
    return stored;
}

} // namespace

__attribute__((noinline)) u64 captureStackTrace(StackFrame* frames, u64 maxFrames, i32 skip)
{
    if (!frames || maxFrames == 0)
        return 0;
    if (skip < 0)
        skip = 0;
    MutexLock lock(captureLock());
    const u64 stored = captureLocked(frames, maxFrames, skip);
    asm volatile("" ::: "memory");
    return stored;
}

void setHeapFreeCapture(bool enabled) { t_heapFree = enabled; }

void primeStackTraces()
{
    // backtrace() loads the unwinder library on first use.
    void* warmUp[4];
    ::backtrace(warmUp, 4);
    StackFrame frames[4];
    captureStackTrace(frames, 4, 0);
}

} // namespace quern::debug
