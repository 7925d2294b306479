#pragma once
// The window-system side of the current GL context, as the back end needs it:
// whether a context is current on this thread and the window system's own
// extension string. One glue per window system (GLX, EGL) loads that system's
// library through the platform layer; neither goes through the GL loader, so
// glvnd's stubs for unknown "gl" names never stand in for them.

namespace quern::opengl {

class GLContext {
public:
    virtual ~GLContext() = default;
    // A context of this window system is current on the calling thread.
    virtual bool isCurrent() = 0;
    // The window system's extension list for the current context, or null.
    virtual const char* extensionString() = 0;
};

// The glues whose library loaded (once per process), else null.
GLContext* glContextGLX();
GLContext* glContextEGL();

// Loads the window-system libraries; logs at level 2 when none is present.
void loadWindowSystemGlue();

// The glue whose context is current on this thread (GLX before EGL), or null.
GLContext* currentGLContext();
bool isGLContextCurrent();
// The current window system's extension list, or null.
const char* currentWindowSystemExtensions();

} // namespace quern::opengl
