#pragma once
// OpenAL errors as log lines. Every OpenAL call site of the back end checks the
// error state afterwards; an error is logged with where it happened and
// execution goes on.

#include "quern/Types.h"

namespace quern::openal {

// OpenAL's own text for the error, else "invalid error code" when OpenAL
// rejects the code itself, else the module's text for it.
const char* openALErrorText(i32 error);

// Logs a non-zero error at level 1: its text, then " (in <function>, <file>:<line>)".
void checkOpenALError(i32 error, const char* file, i32 line, const char* function);

} // namespace quern::openal

// Checks the current OpenAL error state for the named function.
#define QUERN_AL_CHECK(function) ::quern::openal::checkOpenALError(alGetError(), __FILE__, __LINE__, (function))
