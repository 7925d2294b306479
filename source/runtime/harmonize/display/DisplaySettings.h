#pragma once
// Turns the Graphics settings into the game's display: which back end draws,
// the window's size and state, the context it asks for, and, after a change
// of the window, the sizes written back into the settings file.

#include "harmonize/utils/MusicVolume.h"
#include "quern/Types.h"

namespace quern::graphics {
class Display;
struct DisplayConfiguration;
struct DisplayMode;
} // namespace quern::graphics
namespace quern::io {
class HomeFileSystem;
}

namespace harmonize {

using quern::i32;

inline constexpr const char* kProductTitle = "Tin Lantern Run";

struct DisplaySize {
    i32 width = 0;
    i32 height = 0;
};

// The size settings the display-size choice reads.
struct DisplaySizeSettings {
    i32 fullscreenWidth = 0; // a full-screen mode asked for, 0 for the desktop's
    i32 fullscreenHeight = 0;
    i32 windowWidth = 0; // a window size asked for, 0 for one made from the desktop
    i32 windowHeight = 0;
    i32 aspectNumerator = 16;
    i32 aspectDenominator = 9;
};

// Graphics.width, height, windowWidth and windowHeight, Renderer.aspectNumerator and aspectDenominator.
DisplaySizeSettings displaySizeSettings();

// Full screen: the asked-for mode when the display offers exactly that size,
// else the desktop's size. Window: the asked-for size, else two thirds of the
// desktop's height at the aspect ratio, narrowed to two thirds of its width
// when that would not fit. An aspect term that is not above 0 means 16:9.
DisplaySize chooseDisplaySize(bool fullscreen, const DisplaySizeSettings& settings, quern::graphics::Display& display);

// The size the display's drawable surface has, for everything that lays out
// the frame. Main thread only.
DisplaySize& processDisplaySize();

// Makes the display Graphics.backEnd names (letters in either case) the
// process-wide display. "null" draws nothing in a real window; any name
// this build cannot serve is fatal "Failed to create display".
quern::graphics::Display* createDisplay();

// The window and context request from the settings. An OpenGL display asks
// for a compatibility context (the renderer uses the fixed-function calls),
// 3.2 unless Graphics.openGLVersion names another as digit, point, digit.
void makeDisplayConfiguration(
    quern::graphics::DisplayConfiguration& configuration, const quern::graphics::Display& display);

// The mode the game asks for at a size: 32-bit colour, an 8-bit stencil,
// the system's depth and refresh rate.
quern::graphics::DisplayMode displayModeOfSize(DisplaySize size);

// Opens the display at the chosen size, sets the swap interval, clears to
// black and records the drawable size.
void openDisplay(quern::graphics::Display& display);

// Window states as the window reports them.
enum : i32 {
    kWindowNormal = 0,
    kWindowFullscreen = 1,
    kWindowFullscreenDesktop = 2,
    kWindowMaximized = 3,
    kWindowMinimized = 4,
};

// Keeps the window's size and state in the settings and saves "settings.ini".
// A maximised window keeps the size it will return to. While outside music
// has the game's music silenced, the file keeps the player's music volume.
void storeWindowSettings(const quern::graphics::DisplayMode& currentMode, i32 windowState,
    quern::io::HomeFileSystem& files, const MusicVolumeLatch* musicVolume = nullptr);

} // namespace harmonize
