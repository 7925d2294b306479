#pragma once
// The settings App tests start from: defaults, the null graphics back end in a
// 320 x 180 window of SDL's dummy video driver, no vertical sync.

#include "harmonize/Settings.h"

#include <cstdlib>

namespace harmonize::testing {

inline void useSmallDummyWindow()
{
    Settings::resetToDefaults();
    Settings::Graphics.backEnd = "null";
    Settings::Graphics.fullscreen = false;
    Settings::Graphics.windowWidth = 320;
    Settings::Graphics.windowHeight = 180;
    Settings::Graphics.vsync = false;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
}

} // namespace harmonize::testing
