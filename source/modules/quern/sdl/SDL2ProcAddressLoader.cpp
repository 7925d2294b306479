#include "quern/sdl/SDL2ProcAddressLoader.h"

#include "quern/sdl/SDL2Library.h"

namespace quern::sdl {

void* SDL2ProcAddressLoader::getProcAddress(const char* name) { return sdl2.SDL_GL_GetProcAddress(name); }

} // namespace quern::sdl
