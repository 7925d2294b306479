#include "quern/sdl/SDL2Library.h"

#include "quern/debug/Log.h"
#include "quern/platform/SystemInfo.h"

#include <ostream>
#include <string>

namespace quern::sdl {

SDL2EntryPoints sdl2;

namespace {

#define QUERN_SDL2_COUNT(name) +1
static_assert(0 QUERN_SDL2_ENTRY_POINTS(QUERN_SDL2_COUNT) == kRequiredEntryPointCount);
#undef QUERN_SDL2_COUNT

// The version the engine was written and tested against; any other logs a warning.
constexpr u32 kCompiledMajor = 2;
constexpr u32 kCompiledMinor = 0;
constexpr u32 kCompiledPatch = 7;

struct LibraryRecord {
    platform::LibraryHandle handle = nullptr;
};

SDL2LibraryAccess g_platformAccess;
SDL2LibraryAccess* g_access = &g_platformAccess;
LibraryRecord* g_record = nullptr;
SDL_version g_version {};

bool isAbsolutePath(const char* name) { return name[0] == '/'; }

// One load attempt; a failure other than "not found" is worth a warning.
platform::LibraryHandle tryLoad(const char* candidate, const char* path)
{
    const platform::LibraryResult result = g_access->load(path);
    if (result.code > platform::kLibraryNotFound)
        QUERN_LOG(2) << candidate << ": " << result.message << std::endl;
    return result.code == platform::kLibraryLoaded ? result.handle : nullptr;
}

platform::LibraryHandle loadCandidate(const char* candidate, const std::string& executableDirectory)
{
    if (platform::LibraryHandle handle = tryLoad(candidate, candidate))
        return handle;
    if (isAbsolutePath(candidate) || executableDirectory.empty())
        return nullptr;
    const std::string besideProgram = executableDirectory + "/" + candidate;
    return tryLoad(candidate, besideProgram.c_str());
}

// False (and the version logged) when the library is not an SDL 2.
bool acceptVersion(const SDL_version& version)
{
    if (version.major != 2) {
        QUERN_LOG(1) << "Unsupported SDL version " << static_cast<u32>(version.major) << std::endl;
        return false;
    }
    if (version.minor != 0)
        QUERN_LOG(2) << "Unsupported SDL version " << 2 << "." << static_cast<u32>(version.minor) << std::endl;
    return true;
}

} // namespace

SymbolResolver& SDL2LibraryAccess::resolverFor(platform::LibraryHandle library)
{
    m_resolver.library = library;
    return m_resolver;
}

std::string SDL2LibraryAccess::executableDirectory()
{
    const std::string program = platform::getExecutablePath();
    const std::string::size_type slash = program.rfind('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

SDL2LibraryAccess* setSDL2LibraryAccess(SDL2LibraryAccess* access)
{
    SDL2LibraryAccess* previous = g_access == &g_platformAccess ? nullptr : g_access;
    g_access = access ? access : &g_platformAccess;
    return previous;
}

const char* resolveSDLSymbols(SymbolResolver& resolver)
{
#define QUERN_SDL2_RESOLVE(name)                                                                                       \
    sdl2.name = reinterpret_cast<decltype(sdl2.name)>(resolver.resolve(#name));                                        \
    if (!sdl2.name)                                                                                                    \
        return #name;
    QUERN_SDL2_ENTRY_POINTS(QUERN_SDL2_RESOLVE)
#undef QUERN_SDL2_RESOLVE
    return nullptr;
}

bool bootstrapSDL(u8& major, u8& minor)
{
    const std::string executableDirectory = g_access->executableDirectory();
    for (const char* candidate : kSDL2LibraryNames) {
        platform::LibraryHandle handle = loadCandidate(candidate, executableDirectory);
        if (!handle)
            continue;
        SymbolResolver& resolver = g_access->resolverFor(handle);
        sdl2.SDL_GetClipboardText
            = reinterpret_cast<decltype(sdl2.SDL_GetClipboardText)>(resolver.resolve("SDL_GetClipboardText"));
        if (!sdl2.SDL_GetClipboardText || resolveSDLSymbols(resolver)) {
            g_access->unload(handle);
            continue;
        }
        QUERN_LOG(3) << "Loaded SDL 2.0 symbols from " << candidate << std::endl;
        SDL_version version {};
        sdl2.SDL_GetVersion(&version);
        if (!acceptVersion(version)) {
            g_access->unload(handle);
            continue;
        }
        g_record = new LibraryRecord { handle };
        g_version = version;
        major = version.major;
        minor = version.minor;
        return true;
    }
    return false;
}

void initSDL2(u32 flags)
{
    if (!g_record) {
        u8 major = 0;
        u8 minor = 0;
        if (!bootstrapSDL(major, minor))
            QUERN_RAISE(Exception, "Failed to bootstrap SDL");
    }
    i32 result = 0;
    if (sdl2.SDL_WasInit(0) == 0) {
        QUERN_LOG(3) << "Initializing SDL " << static_cast<u32>(g_version.major) << "."
                     << static_cast<u32>(g_version.minor) << "." << static_cast<u32>(g_version.patch) << std::endl;
        const u32 number = 1000u * g_version.major + 100u * g_version.minor + g_version.patch;
        if (number != 1000u * kCompiledMajor + 100u * kCompiledMinor + kCompiledPatch)
            QUERN_LOG(2) << "Compiled with SDL " << kCompiledMajor << "." << kCompiledMinor << "." << kCompiledPatch
                         << std::endl;
        result = sdl2.SDL_Init(flags);
    } else {
        if ((sdl2.SDL_WasInit(flags) & flags) == flags)
            return;
        result = sdl2.SDL_InitSubSystem(flags);
    }
    if (result < 0)
        QUERN_RAISE(SDLException, "SDL_Init failed");
}

void shutdownSDL()
{
    if (!g_record)
        return;
    if (sdl2.SDL_WasInit(0) != 0)
        sdl2.SDL_Quit();
    g_access->unload(g_record->handle);
    delete g_record;
    g_record = nullptr;
    g_version = SDL_version {};
}

bool isSDLLoaded() { return g_record != nullptr; }

platform::LibraryHandle getSDLLibrary() { return g_record ? g_record->handle : nullptr; }

SDL_version getSDLVersion() { return g_version; }

const char* sdlErrorText() { return sdl2.SDL_GetError ? sdl2.SDL_GetError() : ""; }

namespace {
std::string describeSDLError(const char* message)
{
    return std::string("SDL error: ") + (message ? message : "") + " (" + sdlErrorText() + ")";
}
} // namespace

SDLException::SDLException(const char* message, const char* file, i32 line, const char* function)
    : Exception(describeSDLError(message).c_str(), file, line, function)
{
}

} // namespace quern::sdl
