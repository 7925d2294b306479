#pragma once
// The windowing library, opened at run time and never linked: the loader finds
// it, fills one process-wide table of its entry points, checks its version and
// starts its subsystems on demand. Everything else in this module calls SDL
// through that table only.

#include "quern/Types.h"
#include "quern/language/Exception.h"
#include "quern/platform/DynamicLibrary.h"

#include <SDL2/SDL.h>

// Declared as the library's window-system header declares it, which is kept to
// the one file that needs its X11 types.
struct SDL_SysWMinfo;
extern "C" SDL_bool SDL_GetWindowWMInfo(SDL_Window* window, SDL_SysWMinfo* info);

namespace quern::sdl {

// Every entry point the engine requires of the library, in lookup order.
#define QUERN_SDL2_ENTRY_POINTS(X)                                                                                     \
    X(SDL_SetClipboardText)                                                                                            \
    X(SDL_GetModState)                                                                                                 \
    X(SDL_GetTicks)                                                                                                    \
    X(SDL_GetMouseState)                                                                                               \
    X(SDL_CreateColorCursor)                                                                                           \
    X(SDL_CreateRGBSurfaceFrom)                                                                                        \
    X(SDL_CreateWindow)                                                                                                \
    X(SDL_DestroyWindow)                                                                                               \
    X(SDL_DisableScreenSaver)                                                                                          \
    X(SDL_FreeCursor)                                                                                                  \
    X(SDL_FreeSurface)                                                                                                 \
    X(SDL_GameControllerClose)                                                                                         \
    X(SDL_GameControllerGetBindForAxis)                                                                                \
    X(SDL_GameControllerGetBindForButton)                                                                              \
    X(SDL_GameControllerMapping)                                                                                       \
    X(SDL_GameControllerName)                                                                                          \
    X(SDL_GameControllerOpen)                                                                                          \
    X(SDL_GetClosestDisplayMode)                                                                                       \
    X(SDL_GetCurrentVideoDriver)                                                                                       \
    X(SDL_GetDesktopDisplayMode)                                                                                       \
    X(SDL_GetDisplayMode)                                                                                              \
    X(SDL_GetError)                                                                                                    \
    X(SDL_GetKeyboardState)                                                                                            \
    X(SDL_GetNumDisplayModes)                                                                                          \
    X(SDL_GetNumVideoDisplays)                                                                                         \
    X(SDL_GetRelativeMouseMode)                                                                                        \
    X(SDL_GetVersion)                                                                                                  \
    X(SDL_GetWindowDisplayIndex)                                                                                       \
    X(SDL_GetWindowFlags)                                                                                              \
    X(SDL_GetWindowSize)                                                                                               \
    X(SDL_GetWindowWMInfo)                                                                                             \
    X(SDL_GL_CreateContext)                                                                                            \
    X(SDL_GL_DeleteContext)                                                                                            \
    X(SDL_GL_GetAttribute)                                                                                             \
    X(SDL_GL_GetCurrentContext)                                                                                        \
    X(SDL_GL_GetDrawableSize)                                                                                          \
    X(SDL_GL_GetProcAddress)                                                                                           \
    X(SDL_GL_SetAttribute)                                                                                             \
    X(SDL_GL_SetSwapInterval)                                                                                          \
    X(SDL_GL_SwapWindow)                                                                                               \
    X(SDL_HapticClose)                                                                                                 \
    X(SDL_HapticOpenFromJoystick)                                                                                      \
    X(SDL_HapticRumbleInit)                                                                                            \
    X(SDL_HapticRumblePlay)                                                                                            \
    X(SDL_HapticRumbleStop)                                                                                            \
    X(SDL_HapticRumbleSupported)                                                                                       \
    X(SDL_Init)                                                                                                        \
    X(SDL_InitSubSystem)                                                                                               \
    X(SDL_IsGameController)                                                                                            \
    X(SDL_JoystickClose)                                                                                               \
    X(SDL_JoystickGetAxis)                                                                                             \
    X(SDL_JoystickGetDeviceGUID)                                                                                       \
    X(SDL_JoystickInstanceID)                                                                                          \
    X(SDL_JoystickIsHaptic)                                                                                            \
    X(SDL_JoystickNameForIndex)                                                                                        \
    X(SDL_JoystickNumAxes)                                                                                             \
    X(SDL_JoystickNumButtons)                                                                                          \
    X(SDL_JoystickNumHats)                                                                                             \
    X(SDL_JoystickOpen)                                                                                                \
    X(SDL_JoystickUpdate)                                                                                              \
    X(SDL_MasksToPixelFormatEnum)                                                                                      \
    X(SDL_MaximizeWindow)                                                                                              \
    X(SDL_MinimizeWindow)                                                                                              \
    X(SDL_NumJoysticks)                                                                                                \
    X(SDL_PixelFormatEnumToMasks)                                                                                      \
    X(SDL_PollEvent)                                                                                                   \
    X(SDL_PumpEvents)                                                                                                  \
    X(SDL_Quit)                                                                                                        \
    X(SDL_QuitSubSystem)                                                                                               \
    X(SDL_SetCursor)                                                                                                   \
    X(SDL_SetRelativeMouseMode)                                                                                        \
    X(SDL_SetWindowDisplayMode)                                                                                        \
    X(SDL_SetWindowFullscreen)                                                                                         \
    X(SDL_SetWindowIcon)                                                                                               \
    X(SDL_SetWindowPosition)                                                                                           \
    X(SDL_SetWindowSize)                                                                                               \
    X(SDL_SetWindowTitle)                                                                                              \
    X(SDL_ShowCursor)                                                                                                  \
    X(SDL_WarpMouseInWindow)                                                                                           \
    X(SDL_WasInit)

struct SDL2EntryPoints {
    // Only SDL 2.0 and later export it: it tells an old library from a usable one.
    decltype(&::SDL_GetClipboardText) SDL_GetClipboardText = nullptr;
#define QUERN_SDL2_MEMBER(name) decltype(&::name) name = nullptr;
    QUERN_SDL2_ENTRY_POINTS(QUERN_SDL2_MEMBER)
#undef QUERN_SDL2_MEMBER
};

// The table. Valid while the library is loaded; the entries stay set after
// shutdownSDL, but nothing calls SDL once the display is gone.
extern SDL2EntryPoints sdl2;

constexpr u32 kRequiredEntryPointCount = 80;
constexpr u32 kVideoSubsystem = SDL_INIT_VIDEO;
constexpr u32 kInputSubsystems = SDL_INIT_JOYSTICK | SDL_INIT_HAPTIC | SDL_INIT_GAMECONTROLLER;

// Finds entry points by name in one loaded library, or answers null.
class SymbolResolver {
public:
    virtual ~SymbolResolver() = default;
    virtual void* resolve(const char* name) = 0;
};

// How the loader reaches the system: the platform's library calls by default,
// replaced by tests that need a library to be missing, broken or of another version.
class SDL2LibraryAccess {
public:
    virtual ~SDL2LibraryAccess() = default;
    virtual platform::LibraryResult load(const char* path) { return platform::loadDynamicLibrary(path); }
    virtual void unload(platform::LibraryHandle library) { platform::unloadDynamicLibrary(library); }
    // The resolver for one loaded library; lives until the next call.
    virtual SymbolResolver& resolverFor(platform::LibraryHandle library);
    // The folder the engine's program file lies in, with no trailing '/'.
    virtual std::string executableDirectory();

private:
    class PlatformResolver final : public SymbolResolver {
    public:
        void* resolve(const char* name) override { return platform::getLibrarySymbol(library, name); }
        platform::LibraryHandle library = nullptr;
    };
    PlatformResolver m_resolver;
};

// Installs the access the next bootstrap uses (null: the platform's) and
// returns the previous one. The library must not be loaded.
SDL2LibraryAccess* setSDL2LibraryAccess(SDL2LibraryAccess* access);

// The candidate file names, in the order they are tried.
constexpr const char* kSDL2LibraryNames[] = { "libSDL2-2.0.so.0", "libSDL2.so" };

// Loads a usable library (SDL 2) and fills the table; false when no candidate is.
bool bootstrapSDL(u8& major, u8& minor);
// Null when every required entry point was found, else the first missing name.
const char* resolveSDLSymbols(SymbolResolver& resolver);
// Loads the library when it is not loaded yet and starts the given subsystems
// (SDL_INIT_* flags). Fatal when no library loads or SDL refuses.
void initSDL2(u32 flags);
// Quits SDL and unloads the library; nothing when it is not loaded.
void shutdownSDL();
bool isSDLLoaded();
// The loaded library (null when none): for entry points outside the table.
platform::LibraryHandle getSDLLibrary();
// The version the loaded library reports; zeros when none is loaded.
SDL_version getSDLVersion();

// SDL's own text for its last error; empty before the table is filled.
const char* sdlErrorText();

// A failed SDL call: "SDL error: <message> (<SDL's error text>)".
class SDLException : public Exception {
public:
    SDLException(const char* message, const char* file, i32 line, const char* function);
};

} // namespace quern::sdl
