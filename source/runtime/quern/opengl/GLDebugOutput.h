#pragma once
// The driver's debug messages in the engine log: the installer picks the first
// mechanism the context offers (KHR_debug, ARB_debug_output, AMD_debug_output)
// and registers its callback for the life of the context.

#include "quern/opengl/GLFunctions.h"

namespace quern::opengl {

// Logs "OpenGL debug output not supported" (level 2) when none is offered.
void installDebugOutput();

// The callbacks, with the arguments their extensions prescribe. Each formats
// into its own stack buffer and logs: NOTIFICATION and LOW at level 3, MEDIUM
// at 2, HIGH at 1. The KHR one may run on a driver thread.
void debugCallbackKHR(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length, const GLchar* message,
    const void* userParam);
void debugCallbackARB(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length, const GLchar* message,
    const void* userParam);
void debugCallbackAMD(
    GLuint id, GLenum category, GLenum severity, GLsizei length, const GLchar* message, void* userParam);

} // namespace quern::opengl
