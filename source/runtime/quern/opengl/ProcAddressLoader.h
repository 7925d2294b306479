#pragma once
// How the OpenGL back end finds its entry points: the window system that made
// the context answers by name. The back end never links a GL library, so every
// GL function it calls comes through one of these.

namespace quern::opengl {

class ProcAddressLoader {
public:
    virtual ~ProcAddressLoader() = default;

    // The entry point's address, or null when the driver does not know the name.
    virtual void* getProcAddress(const char* name) = 0;
};

} // namespace quern::opengl
