// The crash handler on Linux: the fault signals are caught with sigaction on an
// alternate stack (so that a stack overflow is still reported), mapped to the
// engine's exception codes, and the crash dump is a plain-text report. What
// runs after a crash writes with write(2) from fixed buffers; the only library
// calls that may allocate are the symbol lookups of the stack walk.

#include "quern/debug/MutexImpl.h"
#include "quern/debug/StackTrace.h"
#include "quern/platform/CrashHandler.h"
#include "quern/platform/MessageBox.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace quern::platform {
namespace {

constexpr int kFaultSignals[] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP };
constexpr u64 kAlternateStackSize = 256 * 1024;
// A fault this close to the stack pointer is the stack running out.
constexpr u64 kStackOverflowDistance = 64 * 1024;
constexpr const char* kDefaultQuestion
    = "The application crashed because of an unexpected error:\n\nWould you like to create a mini-dump file?";

constexpr CrashDumpState initialState()
{
    CrashDumpState state {};
    state.messageDescriptor = STDERR_FILENO;
    return state;
}

constinit CrashDumpState g_state = initialState();
std::atomic<bool> g_installed { false };
std::atomic<bool> g_enabled { false };
std::atomic<bool> g_interactive { false };
std::atomic<ExceptionPointers*> g_currentPointers { nullptr };
// System id of the thread inside the handler; 0 when none.
std::atomic<long> g_handlingThread { 0 };

long currentThreadId() { return syscall(SYS_gettid); }

// Text assembled in a fixed buffer, without the heap: usable after a crash.
class Text {
public:
    Text& add(const char* text)
    {
        for (; text && *text && m_length + 1 < sizeof m_buffer; ++text)
            m_buffer[m_length++] = *text;
        m_buffer[m_length] = '\0';
        return *this;
    }
    Text& add(char c)
    {
        const char text[2] = { c, '\0' };
        return add(text);
    }
    Text& decimal(u64 value)
    {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        while (count)
            add(digits[--count]);
        return *this;
    }
    Text& hex(u64 value)
    {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 15];
            value >>= 4;
        } while (value);
        while (count)
            add(digits[--count]);
        return *this;
    }
    Text& pointer(u64 value) { return add("0x").hex(value); }
    Text& frame(const debug::StackFrame& frame)
    {
        if (frame.address != 0)
            pointer(frame.address).add(": ");
        add(frame.function);
        if (frame.file[0] != '\0') {
            add(" (").add(frame.file);
            if (frame.line > 0)
                add(", line ").decimal(static_cast<u64>(frame.line));
            add(')');
        }
        return *this;
    }
    const char* text() const { return m_buffer; }
    u64 length() const { return m_length; }
    bool full() const { return m_length + 1 >= sizeof m_buffer; }
    void clear() { m_buffer[m_length = 0] = '\0'; }

private:
    char m_buffer[1536] = {};
    u64 m_length = 0;
};

bool writeAll(int descriptor, const char* text, u64 length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text += written;
        length -= static_cast<u64>(written);
    }
    return true;
}

bool writeText(int descriptor, const Text& text) { return writeAll(descriptor, text.text(), text.length()); }

void writeMessage(const char* message) { writeAll(g_state.messageDescriptor, message, std::strlen(message)); }

// The executable's directory (with its '/') and file name.
void readExecutablePath()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        g_state.exeDirectory[0] = '\0';
        debug::copyToField(g_state.exeName, sizeof g_state.exeName, "crash");
        return;
    }
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    debug::copyToField(g_state.exeName, sizeof g_state.exeName, slash ? slash + 1 : path);
    if (slash) {
        slash[1] = '\0';
        debug::copyToField(g_state.exeDirectory, sizeof g_state.exeDirectory, path);
    }
}

void ensureRecord()
{
    if (g_state.exeName[0] == '\0')
        readExecutablePath();
    if (!g_state.dumpLock) {
        static debug::MutexImpl dumpLock;
        g_state.dumpLock = &dumpLock;
    }
}

// Captures the stack for a report, passing over `skip` frames above the
// caller. With a crash, frames above the faulting instruction (the handler
// itself) are left out when that frame is found.
__attribute__((noinline)) u64 captureCrashStack(debug::StackFrame* frames, const ExceptionPointers* pointers, i32 skip)
{
    constexpr u64 kMaxFrames = debug::StackTrace::kMaxFrames;
    debug::StackFrame walked[kMaxFrames + 16];
    const u64 count = debug::captureStackTrace(walked, kMaxFrames + 16, 1 + skip);
    u64 first = 0;
    if (pointers && pointers->instructionAddress != 0)
        for (u64 i = 0; i < count; ++i)
            if (walked[i].address == pointers->instructionAddress) {
                first = i;
                break;
            }
    u64 stored = 0;
    for (u64 i = first; i < count && stored < kMaxFrames; ++i)
        frames[stored++] = walked[i];
    return stored;
}

// Out of line, as is captureCrashStack, so that the stack of a dump written
// outside a crash starts at writeMiniDump's caller.
__attribute__((noinline)) bool writeReport(int descriptor, const ExceptionPointers* pointers)
{
    Text text;
    text.add("Crash report\nExecutable: ").add(g_state.exeDirectory).add(g_state.exeName);
    text.add("\nTime: ").decimal(static_cast<u64>(std::time(nullptr)));
    text.add("\nDump type: ").pointer(g_state.dumpType);
    if (pointers) {
        text.add("\nException: ").add(exceptionCodeName(pointers->code)).add(" (").pointer(pointers->code).add(')');
        text.add("\nSignal: ").decimal(static_cast<u64>(pointers->signal));
        text.add(", code ").decimal(static_cast<u64>(static_cast<u32>(pointers->signalCode)));
        text.add("\nFault address: ").pointer(pointers->faultAddress);
        text.add("\nInstruction address: ").pointer(pointers->instructionAddress);
        text.add("\nThread: ").decimal(pointers->threadId);
    } else {
        text.add("\nException: none");
        text.add("\nThread: ").decimal(static_cast<u64>(currentThreadId()));
    }
    text.add("\nStack trace:\n");
    bool ok = writeText(descriptor, text);

    debug::StackFrame frames[debug::StackTrace::kMaxFrames];
    const u64 count = captureCrashStack(frames, pointers, 2);
    for (u64 i = 0; i < count && ok; ++i) {
        text.clear();
        text.frame(frames[i]).add('\n');
        ok = writeText(descriptor, text);
    }
    return ok;
}

void reportDumpFailure(bool interactive, const char* format, const char* path, int error)
{
    if (!interactive)
        return;
    Text text;
    // The two messages share one shape: "<lead>'<path>' (error <hex>)".
    text.add(format).add('\'').add(path).add("' (error ").hex(static_cast<u32>(error)).add(')');
    showMessageBox(text.text(), "", kMessageBoxOk);
}

bool askForDump(const char* path)
{
    Text text;
    text.add(g_state.question[0] ? g_state.question : kDefaultQuestion).add("\n\n").add(path);
    return showMessageBox(text.text(), "Crash dump", kMessageBoxYesNo) == MessageBoxButton::Yes;
}

// The dump path "%s%s.%lu.dmp"; false when it does not fit the record.
bool buildDumpPath(char* path)
{
    Text text;
    text.add(g_state.dumpDirectory[0] ? g_state.dumpDirectory : g_state.exeDirectory);
    text.add(g_state.exeName).add('.');
    text.decimal(static_cast<u32>(std::time(nullptr))).add(".dmp");
    debug::copyToField(path, kCrashPathSize, text.text());
    return text.length() < kCrashPathSize;
}

u64 instructionAddressOf(void* context)
{
#if defined(__x86_64__)
    return static_cast<u64>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#else
    (void)context;
    return 0;
#endif
}

u64 stackPointerOf(void* context)
{
#if defined(__x86_64__)
    return static_cast<u64>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RSP]);
#else
    (void)context;
    return 0;
#endif
}

void resumeDefaultAndRaise(int signalNumber)
{
    struct sigaction action { };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
    // Blocked while this handler runs: delivered, with the default action, on return.
    raise(signalNumber);
}

void onFaultSignal(int signalNumber, siginfo_t* info, void* context)
{
    const long self = currentThreadId();
    long expected = 0;
    if (!g_handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) { // a crash inside the handler is not handled further
            resumeDefaultAndRaise(signalNumber);
            return;
        }
        for (;;) // another thread is reporting its crash and will end the process
            pause();
    }
    ExceptionPointers pointers {};
    pointers.signal = signalNumber;
    pointers.signalCode = info->si_code;
    pointers.code = exceptionCodeFromSignal(signalNumber, info->si_code);
    pointers.faultAddress = reinterpret_cast<uintptr_t>(info->si_addr);
    pointers.instructionAddress = instructionAddressOf(context);
    pointers.threadId = static_cast<u64>(self);
    const u64 stackPointer = stackPointerOf(context);
    if (signalNumber == SIGSEGV && stackPointer != 0 && pointers.faultAddress + kStackOverflowDistance > stackPointer
        && pointers.faultAddress < stackPointer + kStackOverflowDistance)
        pointers.code = kExceptionStackOverflow;

    if (!unhandledExceptionFilter(&pointers)) {
        g_handlingThread.store(0);
        resumeDefaultAndRaise(signalNumber);
    }
}

} // namespace

CrashDumpState& getCrashDumpState() { return g_state; }

void setCrashHandlingEnabled(bool enabled) { g_enabled.store(enabled); }
bool isCrashHandlingEnabled() { return g_enabled.load(); }
void setCrashInteractive(bool interactive) { g_interactive.store(interactive); }
bool isCrashInteractive() { return g_interactive.load(); }
void setCrashCallback(CrashCallback callback) { g_state.callback = callback; }
void setDumpType(u32 dumpType) { g_state.dumpType = dumpType; }
void setCrashMessageDescriptor(i32 descriptor) { g_state.messageDescriptor = descriptor; }
const ExceptionPointers* getCrashExceptionPointers() { return g_currentPointers.load(); }

void setCrashQuestion(const char* question)
{
    debug::copyToField(g_state.question, sizeof g_state.question, question ? question : "");
}

u32 exceptionCodeFromSignal(i32 signal, i32 signalCode)
{
    switch (signal) {
    case SIGSEGV:
        return kExceptionAccessViolation;
    case SIGBUS:
        return signalCode == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
    case SIGILL:
        return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? kExceptionPrivInstruction
                                                                    : kExceptionIllegalInstruction;
    case SIGTRAP:
        return signalCode == TRAP_TRACE ? kExceptionSingleStep : kExceptionBreakpoint;
    case SIGFPE:
        switch (signalCode) {
        case FPE_INTDIV:
            return kExceptionIntDivideByZero;
        case FPE_INTOVF:
            return kExceptionIntOverflow;
        case FPE_FLTDIV:
            return kExceptionFltDivideByZero;
        case FPE_FLTOVF:
            return kExceptionFltOverflow;
        case FPE_FLTUND:
            return kExceptionFltUnderflow;
        case FPE_FLTRES:
            return kExceptionFltInexactResult;
        case FPE_FLTINV:
            return kExceptionFltInvalidOperation;
        case FPE_FLTSUB:
            return kExceptionArrayBoundsExceeded;
        default:
            return kStatusFloatMultipleTraps;
        }
    default:
        return 0;
    }
}

namespace {
// The calling thread's own alternate stack, and the one it had before (a
// sanitizer's, or none), which is put back when the thread lets go of ours.
struct ThreadSignalStack {
    void* memory;
    u64 mappedSize;
    stack_t previous;
};
thread_local ThreadSignalStack t_signalStack {};
} // namespace

void installCrashHandlerForThread()
{
    if (t_signalStack.memory)
        return;
    // A guard page below the stack: a handler that overruns it faults instead
    // of writing over whatever lies beneath.
    const u64 guard = static_cast<u64>(sysconf(_SC_PAGESIZE));
    const u64 mappedSize = kAlternateStackSize + guard;
    void* memory = mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return;
    mprotect(memory, guard, PROT_NONE);
    stack_t stack {};
    stack.ss_sp = static_cast<u8*>(memory) + guard;
    stack.ss_size = kAlternateStackSize;
    stack_t previous {};
    if (sigaltstack(&stack, &previous) != 0) {
        munmap(memory, mappedSize);
        return;
    }
    t_signalStack = ThreadSignalStack { memory, mappedSize, previous };
}

void removeCrashHandlerForThread()
{
    if (!t_signalStack.memory)
        return;
    stack_t restored = t_signalStack.previous;
    if (restored.ss_flags & SS_DISABLE) {
        restored = stack_t {};
        restored.ss_flags = SS_DISABLE;
    } else {
        restored.ss_flags = 0;
    }
    // Refused while the thread runs on our stack (inside the handler): keep it.
    if (sigaltstack(&restored, nullptr) != 0)
        return;
    munmap(t_signalStack.memory, t_signalStack.mappedSize);
    t_signalStack = ThreadSignalStack {};
}

void installCrashHandler()
{
    g_state.question[0] = '\0';
    g_state.callback = nullptr;
    g_state.dumpType = 0;
    g_state.dumpDirectory[0] = '\0';
    g_state.dumpPath[0] = '\0';
    g_state.messageDescriptor = STDERR_FILENO;
    readExecutablePath();
    ensureRecord();
    // The walker loads its libraries and symbol tables now, not in a crash.
    debug::primeStackTraces();
    installCrashHandlerForThread();

    struct sigaction action { };
    action.sa_sigaction = &onFaultSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kFaultSignals)
        sigaction(signalNumber, &action, nullptr);
    g_installed.store(true);
}

__attribute__((noinline)) bool writeMiniDump(const ExceptionPointers* pointers, bool interactive)
{
    ensureRecord();
    char path[kCrashPathSize];
    if (!buildDumpPath(path)) {
        reportDumpFailure(interactive, "Failed to create the mini-dump file ", path, ENAMETOOLONG);
        return false;
    }
    if (interactive && !askForDump(path))
        return false;

    const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        reportDumpFailure(interactive, "Failed to create the mini-dump file ", path, errno);
        return false;
    }
    bool ok;
    int error = 0;
    {
        debug::MutexLock lock(*g_state.dumpLock);
        ok = writeReport(descriptor, pointers);
        if (!ok)
            error = errno;
    }
    if (::close(descriptor) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        reportDumpFailure(interactive, "Failed to save the mini-dump file to ", path, error);
        return false;
    }
    debug::copyToField(g_state.dumpPath, sizeof g_state.dumpPath, path);
    return true;
}

bool unhandledExceptionFilter(ExceptionPointers* pointers)
{
    if (!g_installed.load() || !g_enabled.load())
        return false;
    debug::setHeapFreeCapture(true);
    const bool interactive = g_interactive.load();
    if (!interactive)
        alarm(60); // a handler stuck on a lock the crash left held still ends
    writeMessage("Process crashed, writing mini-dump!\n");
    if (CrashCallback callback = g_state.callback) {
        g_currentPointers.store(pointers);
        callback(pointers->code, pointers, interactive);
        g_currentPointers.store(nullptr);
    } else {
        writeMiniDump(pointers, interactive);
    }

    Text text;
    text.add(exceptionCodeName(pointers->code)).add(" - Stack trace:\n");
    writeText(g_state.messageDescriptor, text);
    debug::StackFrame frames[debug::StackTrace::kMaxFrames];
    const u64 count = captureCrashStack(frames, pointers, 0);
    for (u64 i = 0; i < count; ++i) {
        text.clear();
        text.frame(frames[i]).add('\n');
        writeText(g_state.messageDescriptor, text);
    }
    _exit(1);
}

} // namespace quern::platform
