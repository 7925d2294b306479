// EGL: the window system of SDL's offscreen driver (and of X11 when asked).

#include "quern/opengl/GLContext.h"
#include "quern/platform/DynamicLibrary.h"

namespace quern::opengl {
namespace {

constexpr int kEGLExtensions = 0x3055;

class GLContextEGL final : public GLContext {
public:
    bool load()
    {
        platform::LibraryHandle library = platform::loadLibraryQuietly("libEGL.so.1");
        if (!library)
            return false;
        m_getCurrentContext
            = reinterpret_cast<void* (*)()>(platform::getLibrarySymbol(library, "eglGetCurrentContext"));
        m_getCurrentDisplay
            = reinterpret_cast<void* (*)()>(platform::getLibrarySymbol(library, "eglGetCurrentDisplay"));
        m_queryString
            = reinterpret_cast<const char* (*)(void*, int)>(platform::getLibrarySymbol(library, "eglQueryString"));
        return m_getCurrentContext && m_getCurrentDisplay && m_queryString;
    }

    bool isCurrent() override { return m_getCurrentContext() != nullptr; }

    const char* extensionString() override
    {
        void* display = m_getCurrentDisplay();
        return display ? m_queryString(display, kEGLExtensions) : nullptr;
    }

private:
    void* (*m_getCurrentContext)() = nullptr;
    void* (*m_getCurrentDisplay)() = nullptr;
    const char* (*m_queryString)(void*, int) = nullptr;
};

} // namespace

GLContext* glContextEGL()
{
    static GLContextEGL glue;
    static const bool loaded = glue.load();
    return loaded ? &glue : nullptr;
}

} // namespace quern::opengl
