#pragma once
// The display on the windowing library: one window with its OpenGL context (or
// none, for the null graphics back end), its video modes, its swap interval,
// and the input back end that reads the window's events.

#include "quern/Types.h"
#include "quern/graphics/Display.h"
#include "quern/language/RefCounted.h"
#include "quern/sdl/SDL2Window.h"

struct SDL_Window;
struct SDL_Cursor;

namespace quern::sdl {

class SDL2Display final : public graphics::Display {
public:
    // Makes the display, installs it as the process-wide one (destroying the
    // previous) and returns it.
    static SDL2Display* create(graphics::GraphicsBackEnd* backEnd, graphics::GraphicsBackEndVersion version);

    SDL2Display(graphics::GraphicsBackEnd* backEnd, graphics::GraphicsBackEndVersion version);
    // Closes, drops the cursor image and unloads the windowing library.
    ~SDL2Display() override;

    void close() override;
    bool getDesktopMode(graphics::DisplayMode& out) override;
    void setSwapInterval(i32 interval) override;
    // An SDL2InputBackEnd that passes quit, resize and focus to this display;
    // the caller owns it.
    input::InputBackEnd* createInputBackEnd() override;
    bool applyVideoMode(const graphics::DisplayMode& mode) override;
    void implOpen(graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration) override;
    void enumerateModes(containers::Array& out) override;
    graphics::DisplayWindow* getWindow() override { return &m_window; }

    SDL_Window* sdlWindow() const { return m_sdlWindow; }
    // The context this display made; null while closed or without OpenGL.
    void* glContext() const { return m_glContext; }
    i32 displayIndex() const { return m_displayIndex; }

private:
    friend class SDL2Window;

    void setContextAttributes(const graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration);
    void enterExclusiveFullscreen(graphics::DisplayMode& mode);
    void createContext(graphics::DisplayMode& mode, const graphics::DisplayConfiguration& configuration);
    // Makes the SDL cursor from the stored image; a failure keeps the old one.
    void createCursor();

    SDL2Window m_window;
    SDL_Window* m_sdlWindow = nullptr;
    i32 m_cursorHotspotX = 0;
    i32 m_cursorHotspotY = 0;
    // The flipped copy of the last cursor image.
    Ref m_cursorImage;
    SDL_Cursor* m_cursor = nullptr;
    i32 m_displayIndex = 0;
    void* m_glContext = nullptr;
};

// The window state SDL's window flags describe.
i32 windowStateFromFlags(u32 flags);
// The window flags that open a window in that state (none for Normal or
// unknown states).
u32 windowFlagsForState(i32 state);
// Whether a context of major.minor satisfies the request; a context that
// reports no version (0.0) is taken as it is.
bool isContextVersionSufficient(u32 requestedMajor, u32 requestedMinor, i32 major, i32 minor);
// Fatal, naming both versions, when the context is older than requested.
void checkContextVersion(u32 requestedMajor, u32 requestedMinor, i32 major, i32 minor);

} // namespace quern::sdl
