#include "quern/opengl/GLDebugOutput.h"

#include "quern/debug/Log.h"
#include "quern/opengl/GLExtensions.h"
#include "quern/opengl/OpenGLException.h"

#include <cstdio>

namespace quern::opengl {
namespace {

constexpr u32 kTextSize = 1024;

// The driver's severities map onto the log's error, warning and information levels.
i32 logLevelFor(GLenum severity)
{
    switch (severity) {
    case GL_DEBUG_SEVERITY_HIGH:
        return 1;
    case GL_DEBUG_SEVERITY_MEDIUM:
        return 2;
    default:
        return 3;
    }
}

void logText(GLenum severity, const char* text) { QUERN_LOG(logLevelFor(severity)) << text << std::endl; }

bool offersKHRDebug()
{
    GLint major = 0;
    GLint minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    return major * 10 + minor >= 43 || isExtensionSupported("GL_KHR_debug");
}

} // namespace

void debugCallbackKHR(
    GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei, const GLchar* message, const void*)
{
    char text[kTextSize];
    std::snprintf(text, sizeof text, "%s (source=%s type=%s id=%u severity=%s)", message, debugOutputName(source),
        debugOutputName(type), id, debugOutputName(severity));
    logText(severity, text);
}

void debugCallbackARB(
    GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei, const GLchar* message, const void*)
{
    char text[kTextSize];
    std::snprintf(text, sizeof text, "%s (source=%s type=%s severity=%s id=%u)", message, debugOutputName(source),
        debugOutputName(type), debugOutputName(severity), id);
    logText(severity, text);
}

void debugCallbackAMD(GLuint id, GLenum category, GLenum severity, GLsizei, const GLchar* message, void*)
{
    char text[kTextSize];
    std::snprintf(text, sizeof text, "%s (category=%s severity=%s id=%u)", message, debugOutputName(category),
        debugOutputName(severity), id);
    logText(severity, text);
}

// Under glvnd every "gl" name resolves, so each mechanism needs both its
// extension (or GL version) and its registration entry point.
void installDebugOutput()
{
    if (glDebugMessageCallback && offersKHRDebug()) {
        QUERN_LOG(3) << "Installing KHR_debug callback" << std::endl;
        glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        glDebugMessageCallback(debugCallbackKHR, nullptr);
        glEnable(GL_DEBUG_OUTPUT);
    } else if (glDebugMessageCallbackARB && isExtensionSupported("GL_ARB_debug_output")) {
        QUERN_LOG(3) << "Installing ARB_debug_output callback" << std::endl;
        glDebugMessageControlARB(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        glDebugMessageCallbackARB(debugCallbackARB, nullptr);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS_ARB);
    } else if (glDebugMessageCallbackAMD && isExtensionSupported("GL_AMD_debug_output")) {
        QUERN_LOG(3) << "Installing AMD_debug_output callback" << std::endl;
        glDebugMessageCallbackAMD(debugCallbackAMD, nullptr);
    } else {
        QUERN_LOG(2) << "OpenGL debug output not supported" << std::endl;
    }
}

} // namespace quern::opengl
