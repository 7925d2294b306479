#pragma once
// How GL errors are told: the texts of GL error and frame-buffer status codes,
// the names of the enumerants the back end logs, and the check that ends the
// process on a pending GL error.

#include "quern/Types.h"
#include "quern/language/Exception.h"

namespace quern::opengl {

// The text of a GL, GLU or frame-buffer status code, or null.
const char* glErrorName(u32 code);
// glErrorName's text, else "Unknown error: 0x%X" in a shared buffer that the
// next call overwrites. Never null.
const char* glErrorText(u32 code);
// The GL name of the enumerants the back end logs, else "0x%X" in a shared
// buffer that the next call overwrites.
const char* glEnumName(u32 value);
// The debug-output source, type, severity or category name; "" for others.
const char* debugOutputName(u32 value);

// "OpenGL error: " + the error's text.
class OpenGLException : public Exception {
public:
    OpenGLException(u32 code, const char* file, i32 line, const char* function);
};

// Returns when code is 0; otherwise logs the exception for the caller's site
// (`function` is the compiler's signature of the caller) and ends the process
// with its message.
void checkGLError(u32 code, const char* file, i32 line, const char* function);

} // namespace quern::opengl

#define QUERN_CHECK_GL_ERROR()                                                                                         \
    ::quern::opengl::checkGLError(::quern::opengl::glGetError(), __FILE__, __LINE__, __PRETTY_FUNCTION__)
