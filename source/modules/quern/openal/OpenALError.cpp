#include "quern/openal/OpenALError.h"

#include "quern/debug/Log.h"

#include <AL/al.h>

namespace quern::openal {
namespace {

const char* ownErrorText(i32 error)
{
    switch (error) {
    case AL_NO_ERROR:
        return "there is not currently an error";
    case AL_INVALID_NAME:
        return "a bad name (ID) was passed to an OpenAL function";
    case AL_INVALID_ENUM:
        return "an invalid enum value was passed to an OpenAL function";
    case AL_INVALID_VALUE:
        return "an invalid value was passed to an OpenAL function";
    case AL_INVALID_OPERATION:
        return "the requested operation is not valid";
    case AL_OUT_OF_MEMORY:
        return "the requested operation resulted in OpenAL running out of memory";
    default:
        return "unknown error";
    }
}

} // namespace

const char* openALErrorText(i32 error)
{
    if (const ALchar* text = alGetString(error))
        return text;
    if (alGetError() == AL_INVALID_VALUE)
        return "invalid error code";
    return ownErrorText(error);
}

void checkOpenALError(i32 error, const char* file, i32 line, const char* function)
{
    if (error == AL_NO_ERROR)
        return;
    const ALchar* text = alGetString(error);
    QUERN_LOG(1) << (text ? text : "Unknown OpenAL error") << " (in " << function << ", " << file << ":" << line << ")"
                 << std::endl;
}

} // namespace quern::openal
