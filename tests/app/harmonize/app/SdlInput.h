#pragma once
// Input pushed into SDL itself, as a person at the keyboard would make it; the
// App's frames pump it through the real input path.

#include "quern/platform/DynamicLibrary.h"
#include "quern/sdl/SDL2Library.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace harmonize::testing {

// An SDL entry point of the library the game loaded.
template <typename Function> Function sdlSymbol(const char* name)
{
    void* address = quern::platform::getLibrarySymbol(quern::sdl::getSDLLibrary(), name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(address);
}

inline void pushKey(SDL_Scancode scancode, bool down)
{
    SDL_Event event {};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    sdlSymbol<int (*)(SDL_Event*)>("SDL_PushEvent")(&event);
}

} // namespace harmonize::testing
