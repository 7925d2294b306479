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

// A game controller made through SDL's own virtual joystick interface; its
// device index, negative when SDL refuses it.
inline int attachVirtualPad()
{
    SDL_VirtualJoystickDesc description {};
    description.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    description.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    description.naxes = SDL_CONTROLLER_AXIS_MAX;
    description.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    description.name = "virtual pad";
    return sdlSymbol<int (*)(const SDL_VirtualJoystickDesc*)>("SDL_JoystickAttachVirtualEx")(&description);
}

// The joystick the game's input back end opened for the pad at `index` (it
// opens pads as they arrive); null before that.
inline SDL_Joystick* openedVirtualPad(int index)
{
    const SDL_JoystickID id = sdlSymbol<SDL_JoystickID (*)(int)>("SDL_JoystickGetDeviceInstanceID")(index);
    return sdlSymbol<SDL_Joystick* (*)(SDL_JoystickID)>("SDL_JoystickFromInstanceID")(id);
}

} // namespace harmonize::testing
