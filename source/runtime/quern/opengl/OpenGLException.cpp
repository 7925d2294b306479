#include "quern/opengl/OpenGLException.h"

#include "quern/opengl/GLFunctions.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace quern::opengl {
namespace {

const char* const kTessellatorTexts[] = { "missing gluBeginPolygon", "missing gluBeginContour", "missing gluEndPolygon",
    "missing gluEndContour", "misoriented or self-intersecting loops", "coincident vertices", "colinear vertices",
    "FIST recovery process fatal error" };

const char* const kNurbsTexts[] = { "spline order un-supported", "too few knots", "valid knot range is empty",
    "decreasing knot sequence knot", "knot multiplicity greater than order of spline",
    "endcurve() must follow bgncurve()", "bgncurve() must precede endcurve()", "missing or extra geometric data",
    "can't draw pwlcurves", "missing bgncurve()", "missing bgnsurface()", "endtrim() must precede endsurface()",
    "bgnsurface() must precede endsurface()", "curve of improper type passed as trim curve",
    "bgnsurface() must precede bgntrim()", "endtrim() must follow bgntrim()", "bgntrim() must precede endtrim()",
    "invalid or missing trim curve", "bgntrim() must precede pwlcurve()", "pwlcurve referenced twice",
    "pwlcurve and nurbscurve mixed", "improper usage of trim data type", "nurbscurve referenced twice",
    "nurbscurve and pwlcurve mixed", "nurbssurface referenced twice", "invalid property",
    "endsurface() must follow bgnsurface()", "misoriented trim curves", "intersecting trim curves", "UNUSED",
    "unconnected trim curves", "unknown knot error", "negative vertex count encountered",
    "negative byte-stride encountered", "unknown type descriptor", "null control array or knot vector",
    "duplicate point on pwlcurve" };

// The GLU codes, which no GL header of the back end declares.
constexpr u32 kGluInvalidEnum = 100900;
constexpr u32 kGluInvalidValue = 100901;
constexpr u32 kGluOutOfMemory = 100902;
constexpr u32 kGluIncompatibleVersion = 100903;
constexpr u32 kGluTessError1 = 100151;
constexpr u32 kGluNurbsError1 = 100251;

struct Named {
    u32 value;
    const char* name;
};

#define QUERN_GL_NAME(enumerant)                                                                                       \
    {                                                                                                                  \
        enumerant, #enumerant                                                                                          \
    }
const Named kEnumNames[] = {
    QUERN_GL_NAME(GL_NONE),
    QUERN_GL_NAME(GL_TEXTURE_1D),
    QUERN_GL_NAME(GL_TEXTURE_2D),
    QUERN_GL_NAME(GL_TEXTURE_3D),
    QUERN_GL_NAME(GL_TEXTURE_RECTANGLE_ARB),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_POSITIVE_X),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_NEGATIVE_X),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_POSITIVE_Y),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_NEGATIVE_Y),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_POSITIVE_Z),
    QUERN_GL_NAME(GL_TEXTURE_CUBE_MAP_NEGATIVE_Z),
    QUERN_GL_NAME(GL_BYTE),
    QUERN_GL_NAME(GL_UNSIGNED_BYTE),
    QUERN_GL_NAME(GL_UNSIGNED_SHORT),
    QUERN_GL_NAME(GL_UNSIGNED_INT),
    QUERN_GL_NAME(GL_FLOAT),
    QUERN_GL_NAME(GL_UNSIGNED_INT_8_8_8_8),
    QUERN_GL_NAME(GL_UNSIGNED_INT_8_8_8_8_REV),
    QUERN_GL_NAME(GL_DEPTH_COMPONENT),
    QUERN_GL_NAME(GL_DEPTH_COMPONENT16),
    QUERN_GL_NAME(GL_DEPTH_COMPONENT24),
    QUERN_GL_NAME(GL_DEPTH_COMPONENT32),
    QUERN_GL_NAME(GL_ALPHA),
    QUERN_GL_NAME(GL_LUMINANCE),
    QUERN_GL_NAME(GL_RGB),
    QUERN_GL_NAME(GL_RGBA),
    QUERN_GL_NAME(GL_BGR),
    QUERN_GL_NAME(GL_RGB8),
    QUERN_GL_NAME(GL_RGB16),
    QUERN_GL_NAME(GL_RGBA8),
    QUERN_GL_NAME(GL_ALPHA32F_ARB),
    QUERN_GL_NAME(GL_LUMINANCE32F_ARB),
    QUERN_GL_NAME(GL_COMPRESSED_RGB_S3TC_DXT1_EXT),
    QUERN_GL_NAME(GL_COMPRESSED_RGBA_S3TC_DXT1_EXT),
    QUERN_GL_NAME(GL_COMPRESSED_RGBA_S3TC_DXT3_EXT),
    QUERN_GL_NAME(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT),
    QUERN_GL_NAME(GL_STREAM_DRAW),
    QUERN_GL_NAME(GL_STATIC_DRAW),
    QUERN_GL_NAME(GL_STATIC_READ),
    QUERN_GL_NAME(GL_DYNAMIC_DRAW),
    QUERN_GL_NAME(GL_DYNAMIC_READ),
    QUERN_GL_NAME(GL_COLOR_ATTACHMENT0_EXT),
    QUERN_GL_NAME(GL_COLOR_ATTACHMENT1_EXT),
    QUERN_GL_NAME(GL_COLOR_ATTACHMENT2_EXT),
    QUERN_GL_NAME(GL_COLOR_ATTACHMENT3_EXT),
    QUERN_GL_NAME(GL_DEPTH_ATTACHMENT_EXT),
};
#undef QUERN_GL_NAME

const Named kDebugOutputNames[] = {
    { 0x8246, "API" },
    { 0x8247, "WINDOW_SYSTEM" },
    { 0x8248, "SHADER_COMPILER" },
    { 0x8249, "THIRD_PARTY" },
    { 0x824A, "APPLICATION" },
    { 0x824B, "OTHER" },
    { 0x824C, "ERROR" },
    { 0x824D, "DEPRECATED_BEHAVIOR" },
    { 0x824E, "UNDEFINED_BEHAVIOR" },
    { 0x824F, "PORTABILITY" },
    { 0x8250, "PERFORMANCE" },
    { 0x8251, "OTHER" },
    { 0x826B, "NOTIFICATION" },
    { 0x9146, "HIGH" },
    { 0x9147, "MEDIUM" },
    { 0x9148, "LOW" },
    { 0x9149, "API_ERROR" },
    { 0x914A, "WINDOW_SYSTEM" },
    { 0x914B, "DEPRECATION" },
    { 0x914C, "UNDEFINED_BEHAVIOR" },
    { 0x914D, "PERFORMANCE" },
    { 0x914E, "SHADER_COMPILER" },
    { 0x914F, "APPLICATION" },
    { 0x9150, "OTHER" },
};

char g_errorText[64];
char g_enumText[32];

std::string exceptionMessage(u32 code) { return std::string("OpenGL error: ") + glErrorText(code); }

} // namespace

const char* glErrorName(u32 code)
{
    switch (code) {
    case GL_NO_ERROR:
        return "no error";
    case GL_INVALID_ENUM:
    case kGluInvalidEnum:
        return "invalid enum";
    case GL_INVALID_VALUE:
    case kGluInvalidValue:
        return "invalid value";
    case GL_INVALID_OPERATION:
        return "invalid operation";
    case GL_OUT_OF_MEMORY:
    case kGluOutOfMemory:
        return "out of memory";
    case GL_INVALID_FRAMEBUFFER_OPERATION:
        return "Invalid framebuffer operation";
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
        return "incomplete attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
        return "missing attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT:
        return "incomplete dimensions";
    case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT:
        return "incomplete formats";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER:
        return "incomplete draw buffer";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER:
        return "incomplete read buffer";
    case GL_FRAMEBUFFER_UNSUPPORTED:
        return "FBO unsupported";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE:
        return "incomplete multisample buffer";
    case kGluIncompatibleVersion:
        return "incompatible GL version";
    default:
        break;
    }
    if (code >= kGluTessError1 && code < kGluTessError1 + std::size(kTessellatorTexts))
        return kTessellatorTexts[code - kGluTessError1];
    if (code >= kGluNurbsError1 && code < kGluNurbsError1 + std::size(kNurbsTexts))
        return kNurbsTexts[code - kGluNurbsError1];
    return nullptr;
}

const char* glErrorText(u32 code)
{
    if (const char* name = glErrorName(code))
        return name;
    std::snprintf(g_errorText, sizeof g_errorText, "Unknown error: 0x%X", code);
    return g_errorText;
}

const char* glEnumName(u32 value)
{
    for (const Named& entry : kEnumNames)
        if (entry.value == value)
            return entry.name;
    std::snprintf(g_enumText, sizeof g_enumText, "0x%X", value);
    return g_enumText;
}

const char* debugOutputName(u32 value)
{
    for (const Named& entry : kDebugOutputNames)
        if (entry.value == value)
            return entry.name;
    return "";
}

OpenGLException::OpenGLException(u32 code, const char* file, i32 line, const char* function)
    : Exception(exceptionMessage(code).c_str(), file, line, function)
{
}

void checkGLError(u32 code, const char* file, i32 line, const char* function)
{
    if (code == GL_NO_ERROR)
        return;
    char name[sizeof(debug::StackFrame::function)];
    debug::qualifiedFunctionName(function, name, sizeof name);
    char text[kRaisedTextSize];
    {
        OpenGLException exception(code, file, line, name);
        copyRaisedText(exception, text);
    }
    // The caller's site is in the exception's log line; the fatal path names this check.
    raiseText(text, __FILE__, __LINE__);
}

} // namespace quern::opengl
