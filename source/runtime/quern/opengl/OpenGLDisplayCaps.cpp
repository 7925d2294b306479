#include "quern/opengl/OpenGLDisplayCaps.h"

#include "quern/debug/Log.h"
#include "quern/opengl/GLExtensions.h"
#include "quern/platform/ErrorReporting.h"

#include <cstdio>
#include <cstring>

namespace quern::opengl {
namespace {

using graphics::DisplayCaps;

bool g_extensionSupportLogged = false;
bool g_driverStringsLogged = false;

const char* glString(GLenum name) { return reinterpret_cast<const char*>(glGetString(name)); }

bool startsWith(const char* text, const char* prefix)
{
    return text && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

struct ExtensionFlag {
    const char* name; // as asked of the driver
    const char* logged;
    u8 DisplayCaps::*flag;
};

#define QUERN_EXTENSION(prefix, flag)                                                                                  \
    {                                                                                                                  \
        prefix #flag, #flag, &DisplayCaps::flag                                                                        \
    }
// The order in which the driver is asked and the lines are logged.
const ExtensionFlag kExtensionFlags[] = {
    QUERN_EXTENSION("GL_", ARB_debug_output),
    QUERN_EXTENSION("GL_", ARB_draw_buffers),
    QUERN_EXTENSION("GL_", ARB_fragment_program),
    QUERN_EXTENSION("GL_", ARB_framebuffer_object),
    QUERN_EXTENSION("GL_", ARB_half_float_pixel),
    QUERN_EXTENSION("GL_", ARB_imaging),
    QUERN_EXTENSION("GL_", ARB_texture_float),
    QUERN_EXTENSION("GL_", ARB_texture_multisample),
    QUERN_EXTENSION("GL_", ARB_texture_non_power_of_two),
    QUERN_EXTENSION("GL_", ARB_texture_rectangle),
    QUERN_EXTENSION("GL_", ARB_vertex_buffer_object),
    QUERN_EXTENSION("GL_", ARB_vertex_program),
    QUERN_EXTENSION("GL_", EXT_framebuffer_blit),
    QUERN_EXTENSION("GL_", EXT_framebuffer_multisample),
    QUERN_EXTENSION("GL_", EXT_framebuffer_object),
    QUERN_EXTENSION("GL_", EXT_framebuffer_sRGB),
    QUERN_EXTENSION("GL_", EXT_paletted_texture),
    QUERN_EXTENSION("GL_", EXT_texture_compression_s3tc),
    QUERN_EXTENSION("GL_", EXT_texture_filter_anisotropic),
    QUERN_EXTENSION("GL_", EXT_texture_sRGB),
    QUERN_EXTENSION("GL_", SGIS_generate_mipmap),
    // The swap-tear control belongs to the window system.
    QUERN_EXTENSION("GLX_", EXT_swap_control_tear),
    QUERN_EXTENSION("GL_", APPLE_framebuffer_multisample),
    QUERN_EXTENSION("GL_", OES_texture_3D),
    QUERN_EXTENSION("GL_", OES_vertex_array_object),
};
#undef QUERN_EXTENSION

// Flags every context of at least that GL version offers (strictly above the value).
struct VersionForcing {
    i32 above;
    u8 DisplayCaps::*flag;
};
const VersionForcing kVersionForcing[] = {
    { 149, &DisplayCaps::ARB_vertex_buffer_object },
    { 199, &DisplayCaps::ARB_draw_buffers },
    { 199, &DisplayCaps::ARB_texture_non_power_of_two },
    { 209, &DisplayCaps::EXT_texture_sRGB },
    { 299, &DisplayCaps::ARB_framebuffer_object },
    { 299, &DisplayCaps::ARB_half_float_pixel },
    { 299, &DisplayCaps::EXT_framebuffer_blit },
    { 299, &DisplayCaps::EXT_framebuffer_multisample },
    { 299, &DisplayCaps::EXT_framebuffer_object },
    { 299, &DisplayCaps::EXT_framebuffer_sRGB },
    { 309, &DisplayCaps::ARB_texture_rectangle },
    { 319, &DisplayCaps::ARB_texture_multisample },
    { 429, &DisplayCaps::ARB_debug_output },
};

i32 apiVersionOf(const char* version)
{
    const i32 value = parseVersionText(version);
    return value > 0 ? value : 120;
}

void askExtensions(DisplayCaps& caps)
{
    for (const ExtensionFlag& extension : kExtensionFlags) {
        caps.*extension.flag = isExtensionSupported(extension.name) ? 1 : 0;
        if (!g_extensionSupportLogged)
            QUERN_LOG(4) << (caps.*extension.flag ? "Supports " : "Does not support ") << extension.logged << std::endl;
    }
    for (const VersionForcing& forcing : kVersionForcing)
        if (caps.apiVersion > forcing.above)
            caps.*forcing.flag = 1;
}

u32 integer(GLenum name)
{
    GLint value = 0;
    glGetIntegerv(name, &value);
    return static_cast<u32>(value);
}

void queryLimits(DisplayCaps& caps, GLVendor vendor)
{
    GLint units = 1;
    glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &units);
    caps.textureUnits = static_cast<u32>(units);
    caps.maxTextureSize = integer(GL_MAX_TEXTURE_SIZE);
    caps.max3DTextureSize = integer(GL_MAX_3D_TEXTURE_SIZE);
    caps.maxRenderbufferSize = caps.ARB_framebuffer_object || caps.EXT_framebuffer_object
        ? integer(GL_MAX_RENDERBUFFER_SIZE)
        : caps.maxTextureSize;
    caps.maxAnisotropy = 1.0f;
    if (caps.EXT_texture_filter_anisotropic && vendor != GLVendor::ARM)
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &caps.maxAnisotropy);
    caps.maxSamples
        = caps.EXT_framebuffer_multisample || caps.APPLE_framebuffer_multisample ? integer(GL_MAX_SAMPLES) : 0;
}

void applyRendererQuirks(DisplayCaps& caps, const char* renderer)
{
    if (startsWith(renderer, "ATI Mobility Radeon") || startsWith(renderer, "MOBILITY RADEON 7500")
        || startsWith(renderer, "Quadro")) {
        caps.vertexBuffersDisabled = 1;
        QUERN_LOG(3) << "Disabling VBO because of unstable/slow driver implementation" << std::endl;
    }
    caps.driverMipmapsDisabled = 0;
    if (!startsWith(renderer, "Intel 845G")
        && (startsWith(renderer, "Intel 854G") || startsWith(renderer, "Intel 915G")
            || startsWith(renderer, "MOBILITY RADEON 57") || startsWith(renderer, "MOBILITY RADEON 90"))) {
        caps.driverMipmapsDisabled = 1;
        QUERN_LOG(3) << "Disabling driver side mipmaps because of unstable driver implementation" << std::endl;
    }
    caps.generatedMipmapsDisabled = caps.driverMipmapsDisabled;
}

void logDriverStrings(const char* vendor, const char* renderer, const char* version, const char* shadingLanguage)
{
    if (vendor)
        QUERN_LOG(3) << "Vendor: " << vendor << std::endl;
    if (renderer) {
        QUERN_LOG(3) << "Renderer: " << renderer << std::endl;
        if (std::strcmp(renderer, "GDI Generic") == 0)
            QUERN_LOG(2) << "You are using a software OpenGL renderer, please install an OpenGL driver from your "
                            "graphics card vendor!"
                         << std::endl;
    }
    if (version)
        QUERN_LOG(3) << "Version: " << version << std::endl;
    if (shadingLanguage)
        QUERN_LOG(3) << "GLSL version: " << shadingLanguage << std::endl;
}

} // namespace

GLVendor vendorFromString(const char* vendor)
{
    static const std::pair<const char*, GLVendor> kPrefixes[] = { { "ARM", GLVendor::ARM }, { "ATI", GLVendor::ATI },
        { "NVIDIA", GLVendor::NVIDIA }, { "Intel", GLVendor::Intel }, { "Mesa", GLVendor::Mesa },
        { "Microsoft", GLVendor::Microsoft }, { "SiS", GLVendor::SiS } };
    for (const auto& [prefix, kind] : kPrefixes)
        if (startsWith(vendor, prefix))
            return kind;
    return GLVendor::Other;
}

i32 parseVersionText(const char* text)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!text || !digit(text[0]) || text[1] != '.' || !digit(text[2]))
        return 0;
    return (text[0] - '0') * 100 + (text[2] - '0') * 10;
}

i32 driverBuildNumber(GLVendor vendor, const char* version)
{
    if (!version || !*version)
        return 0;
    int build = 0;
    if (vendor == GLVendor::ATI)
        return std::sscanf(version, "%*d.%*d.%8d", &build) == 1 ? build : 0;
    if (vendor == GLVendor::Intel) {
        if (std::sscanf(version, "%*d.%*d.%*d - Build %*d.%*d.%*d.%8d", &build) == 1)
            return build;
        return std::sscanf(version, "%*d.%*d APPLE-%*d.%*d.%8d", &build) == 1 ? build : 0;
    }
    return 0;
}

i32 glslVersion(const char* shadingLanguageText)
{
    if (parseVersionText(glString(GL_VERSION)) >= 200) {
        const char* text = shadingLanguageText ? shadingLanguageText : glString(GL_SHADING_LANGUAGE_VERSION);
        const i32 value = parseVersionText(text);
        return value > 0 ? value : 100;
    }
    return isExtensionSupported("ARB_shading_language_100") ? 100 : 0;
}

i64 videoMemoryBytes()
{
    if (isExtensionSupported("GL_NVX_gpu_memory_info")) {
        GLint kilobytes = 0;
        glGetIntegerv(GL_GPU_MEMORY_INFO_DEDICATED_VIDMEM_NVX, &kilobytes);
        return static_cast<i64>(kilobytes) * 1024;
    }
    if (isExtensionSupported("GL_ATI_meminfo")) {
        GLint values[4] = {};
        glGetIntegerv(GL_TEXTURE_FREE_MEMORY_ATI, values);
        return static_cast<i64>(values[0]) * 1024;
    }
    return 0;
}

void scanCapabilities(DisplayCaps& caps)
{
    const char* vendor = glString(GL_VENDOR);
    const char* renderer = glString(GL_RENDERER);
    const char* version = glString(GL_VERSION);
    if (!version)
        version = glString(GL_VERSION);

    caps.apiVersion = apiVersionOf(version);
    const char* shadingLanguage = caps.apiVersion >= 200 ? glString(GL_SHADING_LANGUAGE_VERSION) : nullptr;
    glGetError();
    caps.apiVersionCopy = caps.apiVersion;
    caps.one = 1;
    caps.shadingLanguageVersion = glslVersion(shadingLanguage);

    const GLVendor vendorKind = vendorFromString(vendor);
    caps.vendorKind = static_cast<i32>(vendorKind);
    caps.driverKind = driverBuildNumber(vendorKind, version);

    if (caps.apiVersion < 300)
        QUERN_FATAL("OpenGL 3.0 or higher is required. Please update your graphics driver.");

    askExtensions(caps);
    g_extensionSupportLogged = true;
    glGetError();
    queryLimits(caps, vendorKind);

    caps.featureFlag = 1;
    caps.nonPowerOfTwoTargets = 1;
    caps.floatTextures = caps.apiVersion >= 300 || caps.ARB_texture_float ? 1 : 0;
    caps.mipmapGeneration = caps.ARB_framebuffer_object || caps.EXT_framebuffer_object || caps.SGIS_generate_mipmap;
    caps.limit = 512;
    caps.vramMegabytes = static_cast<u32>(videoMemoryBytes() >> 20);

    applyRendererQuirks(caps, renderer);

    glGetError();
    if (vendorKind == GLVendor::Mesa) {
        caps.ARB_framebuffer_object = 0;
        caps.EXT_framebuffer_object = 0;
        QUERN_LOG(2) << "Disabling FBO support because of known problems with Mesa implementation!" << std::endl;
    }

    if (!g_driverStringsLogged) {
        g_driverStringsLogged = true;
        logDriverStrings(vendor, renderer, version, shadingLanguage);
    }
}

void forgetLoggedCapabilities()
{
    g_extensionSupportLogged = false;
    g_driverStringsLogged = false;
}

} // namespace quern::opengl
