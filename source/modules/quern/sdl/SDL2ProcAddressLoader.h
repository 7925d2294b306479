#pragma once
// The OpenGL back end's entry points, found by the windowing library for the
// context it made.

#include "quern/opengl/ProcAddressLoader.h"

namespace quern::sdl {

class SDL2ProcAddressLoader final : public opengl::ProcAddressLoader {
public:
    void* getProcAddress(const char* name) override;
};

} // namespace quern::sdl
