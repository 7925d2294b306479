#include "SDLTestContext.h"

#include "quern/opengl/GLExtensions.h"
#include "quern/opengl/OpenGLDisplayCaps.h"

#include <SDL.h>

#include <cstdlib>

namespace quern::opengl::testing {

void* SDLProcAddressLoader::getProcAddress(const char* name) { return SDL_GL_GetProcAddress(name); }

SDLTestContext::SDLTestContext()
{
    if (!std::getenv("DISPLAY") && !std::getenv("SDL_VIDEODRIVER"))
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        m_error = std::string("SDL video: ") + SDL_GetError();
        return;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_Window* window = SDL_CreateWindow("quern opengl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    m_window = window;
    if (!window) {
        m_error = std::string("SDL window: ") + SDL_GetError();
        return;
    }
    m_context = SDL_GL_CreateContext(window);
    if (!m_context) {
        m_error = std::string("SDL GL context: ") + SDL_GetError();
        return;
    }
    if (SDL_GL_MakeCurrent(window, m_context) != 0)
        m_error = std::string("SDL make current: ") + SDL_GetError();
}

SDLTestContext::~SDLTestContext()
{
    if (m_context)
        SDL_GL_DeleteContext(m_context);
    if (m_window)
        SDL_DestroyWindow(static_cast<SDL_Window*>(m_window));
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

const char* SDLTestContext::videoDriver() const
{
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver ? driver : "";
}

void SDLTestContext::makeCurrent(bool current)
{
    SDL_GL_MakeCurrent(static_cast<SDL_Window*>(m_window), current ? m_context : nullptr);
}

namespace {

graphics::DisplayCaps g_caps;

} // namespace

SDLTestContext* sharedContext(std::string& error)
{
    static SDLTestContext* context = [] {
        auto* made = new SDLTestContext;
        if (made->error().empty()) {
            SDLProcAddressLoader loader;
            initExtensions(loader);
            scanCapabilities(g_caps);
        }
        return made;
    }();
    error = context->error();
    return error.empty() ? context : nullptr;
}

const graphics::DisplayCaps& sharedCaps() { return g_caps; }

} // namespace quern::opengl::testing
