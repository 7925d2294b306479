#pragma once
// A test-only SDL window with an OpenGL 3.2 compatibility context made current,
// and the loader that hands SDL's entry points to the back end. Under an X
// display SDL's x11 driver makes a GLX context; without one, the offscreen
// driver makes an EGL context. Both have a readable default frame buffer.

#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/opengl/ProcAddressLoader.h"

#include <string>

namespace quern::opengl::testing {

class SDLProcAddressLoader final : public ProcAddressLoader {
public:
    void* getProcAddress(const char* name) override;
};

class SDLTestContext {
public:
    SDLTestContext();
    ~SDLTestContext();
    SDLTestContext(const SDLTestContext&) = delete;
    SDLTestContext& operator=(const SDLTestContext&) = delete;

    // Empty when the context is current.
    const std::string& error() const { return m_error; }
    const char* videoDriver() const;
    void makeCurrent(bool current);

private:
    void* m_window = nullptr;
    void* m_context = nullptr;
    std::string m_error;
};

// One context per test process with the entry points loaded and the
// capabilities scanned; null (with the reason in `error`) when none could be made.
SDLTestContext* sharedContext(std::string& error);
// The capabilities of the shared context.
const graphics::DisplayCaps& sharedCaps();

} // namespace quern::opengl::testing

#define QUERN_REQUIRE_GL()                                                                                             \
    do {                                                                                                               \
        std::string quernGLError;                                                                                      \
        ASSERT_NE(::quern::opengl::testing::sharedContext(quernGLError), nullptr) << quernGLError;                     \
    } while (0)
