#include "quern/opengl/GLContext.h"

#include "quern/debug/Log.h"

namespace quern::opengl {

void loadWindowSystemGlue()
{
    if (!glContextGLX() && !glContextEGL())
        QUERN_LOG(2) << "Neither libGLX.so.0 nor libEGL.so.1 could be loaded: no window-system extensions" << std::endl;
}

GLContext* currentGLContext()
{
    for (GLContext* glue : { glContextGLX(), glContextEGL() })
        if (glue && glue->isCurrent())
            return glue;
    return nullptr;
}

bool isGLContextCurrent() { return currentGLContext() != nullptr; }

const char* currentWindowSystemExtensions()
{
    GLContext* glue = currentGLContext();
    return glue ? glue->extensionString() : nullptr;
}

} // namespace quern::opengl
