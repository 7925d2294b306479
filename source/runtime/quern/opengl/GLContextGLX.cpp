// GLX: the window system of SDL's X11 driver.

#include "quern/opengl/GLContext.h"
#include "quern/platform/DynamicLibrary.h"

namespace quern::opengl {
namespace {

class GLContextGLX final : public GLContext {
public:
    bool load()
    {
        platform::LibraryHandle glx = platform::loadLibraryQuietly("libGLX.so.0");
        platform::LibraryHandle x11 = glx ? platform::loadLibraryQuietly("libX11.so.6") : nullptr;
        if (!x11)
            return false;
        m_getCurrentContext = reinterpret_cast<void* (*)()>(platform::getLibrarySymbol(glx, "glXGetCurrentContext"));
        m_getCurrentDisplay = reinterpret_cast<void* (*)()>(platform::getLibrarySymbol(glx, "glXGetCurrentDisplay"));
        m_queryExtensionsString = reinterpret_cast<const char* (*)(void*, int)>(
            platform::getLibrarySymbol(glx, "glXQueryExtensionsString"));
        m_defaultScreen = reinterpret_cast<int (*)(void*)>(platform::getLibrarySymbol(x11, "XDefaultScreen"));
        return m_getCurrentContext && m_getCurrentDisplay && m_queryExtensionsString && m_defaultScreen;
    }

    bool isCurrent() override { return m_getCurrentContext() != nullptr; }

    const char* extensionString() override
    {
        void* display = m_getCurrentDisplay();
        return display ? m_queryExtensionsString(display, m_defaultScreen(display)) : nullptr;
    }

private:
    void* (*m_getCurrentContext)() = nullptr;
    void* (*m_getCurrentDisplay)() = nullptr;
    const char* (*m_queryExtensionsString)(void*, int) = nullptr;
    int (*m_defaultScreen)(void*) = nullptr;
};

} // namespace

GLContext* glContextGLX()
{
    static GLContextGLX glue;
    static const bool loaded = glue.load();
    return loaded ? &glue : nullptr;
}

} // namespace quern::opengl
