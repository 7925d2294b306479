// The capability scan on Mesa, and on fake drivers (other vendors, versions,
// renderers and extension lists) through replaced glGetString,
// glGetIntegerv, glGetFloatv and glGetStringi slots.

#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/opengl/GLExtensions.h"
#include "quern/opengl/OpenGLDisplayCaps.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quern::opengl {
namespace {

using graphics::DisplayCaps;
using testing::LogCapture;
using testing::SlotOverride;

// The strings, integers and extension list one fake driver answers with.
struct FakeDriver {
    const char* vendor = "NVIDIA Corporation";
    const char* renderer = "GeForce";
    const char* version = "4.6.0 NVIDIA 470.1";
    const char* shadingLanguage = "4.60 NVIDIA";
    std::vector<std::string> extensions;
    std::map<GLenum, GLint> integers;
    GLfloat anisotropy = 16.0f;
};

FakeDriver* g_driver = nullptr;

const GLubyte* fakeGetString(GLenum name)
{
    const char* text = nullptr;
    switch (name) {
    case GL_VENDOR:
        text = g_driver->vendor;
        break;
    case GL_RENDERER:
        text = g_driver->renderer;
        break;
    case GL_VERSION:
        text = g_driver->version;
        break;
    case GL_SHADING_LANGUAGE_VERSION:
        text = g_driver->shadingLanguage;
        break;
    default:
        break;
    }
    return reinterpret_cast<const GLubyte*>(text);
}
const GLubyte* fakeGetStringi(GLenum, GLuint index)
{
    return reinterpret_cast<const GLubyte*>(g_driver->extensions.at(index).c_str());
}
void fakeGetIntegerv(GLenum name, GLint* value)
{
    if (name == GL_NUM_EXTENSIONS) {
        *value = static_cast<GLint>(g_driver->extensions.size());
        return;
    }
    const auto found = g_driver->integers.find(name);
    if (found != g_driver->integers.end())
        *value = found->second;
}
void fakeGetFloatv(GLenum, GLfloat* value) { *value = g_driver->anisotropy; }
GLenum fakeGetError() { return GL_NO_ERROR; }

// Installs the fake driver's slots for the scope.
class FakeSlots {
public:
    explicit FakeSlots(FakeDriver& driver)
        : m_string(glGetString, fakeGetString)
        , m_stringi(extensionListGetStringi, fakeGetStringi)
        , m_integer(glGetIntegerv, fakeGetIntegerv)
        , m_float(glGetFloatv, fakeGetFloatv)
        , m_error(glGetError, fakeGetError)
    {
        g_driver = &driver;
        driver.integers.emplace(GL_MAX_TEXTURE_SIZE, 8192);
        driver.integers.emplace(GL_MAX_3D_TEXTURE_SIZE, 2048);
        driver.integers.emplace(GL_MAX_RENDERBUFFER_SIZE, 4096);
        driver.integers.emplace(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, 32);
        driver.integers.emplace(GL_MAX_SAMPLES, 8);
    }

private:
    SlotOverride<PFN_glGetString> m_string;
    SlotOverride<PFN_glGetStringi> m_stringi;
    SlotOverride<PFN_glGetIntegerv> m_integer;
    SlotOverride<PFN_glGetFloatv> m_float;
    SlotOverride<PFN_glGetError> m_error;
};

DisplayCaps scan(FakeDriver& driver)
{
    FakeSlots slots(driver);
    DisplayCaps caps;
    scanCapabilities(caps);
    return caps;
}

TEST(OpenGLDisplayCaps, MesaReportsGL45AndTurnsFramebufferObjectsOff)
{
    QUERN_REQUIRE_GL();
    forgetLoggedCapabilities();
    LogCapture warnings(2);
    LogCapture information(3);
    LogCapture detail(4);
    DisplayCaps caps;
    scanCapabilities(caps);
    EXPECT_EQ(caps.apiVersion, 450);
    EXPECT_EQ(caps.apiVersionCopy, 450);
    EXPECT_EQ(caps.shadingLanguageVersion, 450);
    EXPECT_EQ(caps.vendorKind, static_cast<i32>(GLVendor::Mesa));
    EXPECT_EQ(caps.driverKind, 0);
    EXPECT_EQ(caps.ARB_framebuffer_object, 0);
    EXPECT_EQ(caps.EXT_framebuffer_object, 0);
    EXPECT_EQ(caps.mipmapGeneration, 1);
    EXPECT_EQ(caps.floatTextures, 1);
    EXPECT_EQ(caps.nonPowerOfTwoTargets, 1);
    EXPECT_EQ(caps.featureFlag, 1);
    EXPECT_EQ(caps.ARB_texture_multisample, 1);
    EXPECT_EQ(caps.EXT_texture_compression_s3tc, 1);
    EXPECT_EQ(caps.EXT_paletted_texture, 0);
    EXPECT_EQ(caps.limit, 512u);
    EXPECT_EQ(caps.one, 1);
    EXPECT_GE(caps.maxTextureSize, 4096u);
    EXPECT_GT(caps.textureUnits, 1u);
    EXPECT_GT(caps.maxRenderbufferSize, 0u);
    EXPECT_EQ(caps.vertexBuffersDisabled, 0);
    EXPECT_TRUE(warnings.contains("Disabling FBO support because of known problems with Mesa implementation!"));
    EXPECT_TRUE(information.contains("Vendor: Mesa")) << information.text();
    EXPECT_TRUE(information.contains("Renderer: llvmpipe")) << information.text();
    EXPECT_TRUE(information.contains("Version: 4.5 (Compatibility Profile)")) << information.text();
    EXPECT_TRUE(information.contains("GLSL version: 4.50")) << information.text();
    EXPECT_TRUE(detail.contains("Supports ARB_framebuffer_object")) << detail.text();
    EXPECT_TRUE(detail.contains("Does not support EXT_swap_control_tear")) << detail.text();
    // The lines follow the order in which the driver is asked.
    const std::string lines = detail.text();
    EXPECT_LT(lines.find("EXT_paletted_texture"), lines.find("EXT_texture_compression_s3tc"));
    EXPECT_LT(lines.find("EXT_texture_compression_s3tc"), lines.find("EXT_texture_filter_anisotropic"));
}

TEST(OpenGLDisplayCaps, OnlyTheFirstScanLogs)
{
    FakeDriver driver;
    forgetLoggedCapabilities();
    scan(driver);
    LogCapture information(3);
    LogCapture detail(4);
    const DisplayCaps caps = scan(driver);
    EXPECT_EQ(caps.apiVersion, 460);
    EXPECT_FALSE(information.contains("Vendor:")) << information.text();
    EXPECT_FALSE(detail.contains("support")) << detail.text();
}

TEST(OpenGLDisplayCaps, VersionForcesExtensionFlags)
{
    FakeDriver driver; // GL 4.6 and an empty extension list
    const DisplayCaps caps = scan(driver);
    const u8 forced[]
        = { caps.ARB_debug_output, caps.ARB_draw_buffers, caps.ARB_framebuffer_object, caps.ARB_half_float_pixel,
              caps.ARB_texture_multisample, caps.ARB_texture_non_power_of_two, caps.ARB_texture_rectangle,
              caps.ARB_vertex_buffer_object, caps.EXT_framebuffer_blit, caps.EXT_framebuffer_multisample,
              caps.EXT_framebuffer_object, caps.EXT_framebuffer_sRGB, caps.EXT_texture_sRGB };
    for (u8 flag : forced)
        EXPECT_EQ(flag, 1);
    const u8 listed[] = { caps.ARB_fragment_program, caps.ARB_imaging, caps.ARB_texture_float, caps.ARB_vertex_program,
        caps.EXT_paletted_texture, caps.EXT_texture_filter_anisotropic, caps.EXT_texture_compression_s3tc,
        caps.SGIS_generate_mipmap, caps.EXT_swap_control_tear, caps.APPLE_framebuffer_multisample, caps.OES_texture_3D,
        caps.OES_vertex_array_object };
    for (u8 flag : listed)
        EXPECT_EQ(flag, 0);
    EXPECT_EQ(caps.maxSamples, 8u);
    EXPECT_EQ(caps.maxRenderbufferSize, 4096u);
    EXPECT_EQ(caps.maxAnisotropy, 1.0f);
    EXPECT_EQ(caps.vendorKind, static_cast<i32>(GLVendor::NVIDIA));
    EXPECT_EQ(caps.driverKind, 0);
}

TEST(OpenGLDisplayCaps, GL30LeavesLaterFlagsToTheList)
{
    FakeDriver driver;
    driver.version = "3.0 Mesa";
    driver.extensions = { "GL_ARB_texture_multisample", "GL_EXT_texture_filter_anisotropic" };
    const DisplayCaps caps = scan(driver);
    EXPECT_EQ(caps.apiVersion, 300);
    EXPECT_EQ(caps.ARB_framebuffer_object, 1);
    EXPECT_EQ(caps.ARB_texture_rectangle, 0);
    EXPECT_EQ(caps.ARB_debug_output, 0);
    EXPECT_EQ(caps.ARB_texture_multisample, 1);
    EXPECT_EQ(caps.maxAnisotropy, 16.0f);
}

TEST(OpenGLDisplayCaps, MesaQuirkClearsFramebufferFlagsAfterMipmapGeneration)
{
    FakeDriver driver;
    driver.vendor = "Mesa/X.org";
    driver.version = "3.3 (Core Profile) Mesa 22.3.6";
    const DisplayCaps caps = scan(driver);
    EXPECT_EQ(caps.vendorKind, static_cast<i32>(GLVendor::Mesa));
    EXPECT_EQ(caps.ARB_framebuffer_object, 0);
    EXPECT_EQ(caps.EXT_framebuffer_object, 0);
    EXPECT_EQ(caps.mipmapGeneration, 1);
    EXPECT_EQ(caps.maxRenderbufferSize, 4096u);
}

TEST(OpenGLDisplayCaps, ARMIgnoresAnisotropy)
{
    FakeDriver driver;
    driver.vendor = "ARM";
    driver.extensions = { "GL_EXT_texture_filter_anisotropic" };
    const DisplayCaps caps = scan(driver);
    EXPECT_EQ(caps.EXT_texture_filter_anisotropic, 1);
    EXPECT_EQ(caps.maxAnisotropy, 1.0f);
}

TEST(OpenGLDisplayCaps, RendererQuirks)
{
    struct Case {
        const char* renderer;
        u8 vboDisabled;
        u8 mipmapsDisabled;
    };
    const Case cases[] = {
        { "Intel 845G", 0, 0 },
        { "Intel 915G Express Chipset Family", 0, 1 },
        { "Intel 854G", 0, 1 },
        { "MOBILITY RADEON 9000", 0, 1 },
        { "MOBILITY RADEON 7500 DDR", 1, 0 },
        { "ATI Mobility Radeon X1600", 1, 0 },
        { "Quadro FX 3800/PCIe/SSE2", 1, 0 },
        { "GeForce GTX", 0, 0 },
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        driver.renderer = c.renderer;
        LogCapture information(3);
        const DisplayCaps caps = scan(driver);
        EXPECT_EQ(caps.vertexBuffersDisabled, c.vboDisabled) << c.renderer;
        EXPECT_EQ(caps.driverMipmapsDisabled, c.mipmapsDisabled) << c.renderer;
        EXPECT_EQ(caps.generatedMipmapsDisabled, c.mipmapsDisabled) << c.renderer;
        EXPECT_EQ(
            information.contains("Disabling VBO because of unstable/slow driver implementation"), c.vboDisabled == 1)
            << c.renderer;
        EXPECT_EQ(information.contains("Disabling driver side mipmaps because of unstable driver implementation"),
            c.mipmapsDisabled == 1)
            << c.renderer;
    }
}

TEST(OpenGLDisplayCaps, GameSettingOfTheVBOByteSurvivesAScan)
{
    FakeDriver driver;
    FakeSlots slots(driver);
    DisplayCaps caps;
    caps.vertexBuffersDisabled = 1;
    scanCapabilities(caps);
    EXPECT_EQ(caps.vertexBuffersDisabled, 1);
}

TEST(OpenGLDisplayCaps, VideoMemoryFromTheVendorQueries)
{
    FakeDriver nvidia;
    nvidia.extensions = { "GL_NVX_gpu_memory_info" };
    nvidia.integers[GL_GPU_MEMORY_INFO_DEDICATED_VIDMEM_NVX] = 2 * 1024 * 1024; // kilobytes
    EXPECT_EQ(scan(nvidia).vramMegabytes, 2048u);
    FakeDriver ati;
    ati.vendor = "ATI Technologies Inc.";
    ati.extensions = { "GL_ATI_meminfo" };
    ati.integers[GL_TEXTURE_FREE_MEMORY_ATI] = 512 * 1024;
    EXPECT_EQ(scan(ati).vramMegabytes, 512u);
    FakeDriver none;
    EXPECT_EQ(scan(none).vramMegabytes, 0u);
}

TEST(OpenGLDisplayCapsDeathTest, ContextsOlderThanGL30AreRefused)
{
    const char* versions[] = { "2.1 Mesa 7.0", "", nullptr, "x.y" };
    for (const char* version : versions) {
        FakeDriver driver;
        driver.version = version;
        EXPECT_DEATH(scan(driver), "OpenGL 3.0 or higher is required. Please update your graphics driver.")
            << (version ? version : "null");
    }
}

TEST(GLVendorFromString, PrefixesInTheirOrder)
{
    struct Case {
        const char* text;
        GLVendor vendor;
    };
    const Case cases[] = {
        { "ARM", GLVendor::ARM },
        { "ATI Technologies Inc.", GLVendor::ATI },
        { "Intel Open Source Technology Center", GLVendor::Intel },
        { "Mesa/X.org", GLVendor::Mesa },
        { "Microsoft Corporation", GLVendor::Microsoft },
        { "NVIDIA Corporation", GLVendor::NVIDIA },
        { "SiS", GLVendor::SiS },
        { "nvidia", GLVendor::Other },
        { "", GLVendor::Other },
        { nullptr, GLVendor::Other },
    };
    for (const Case& c : cases)
        EXPECT_EQ(vendorFromString(c.text), c.vendor) << (c.text ? c.text : "null");
}

TEST(DriverBuildNumber, ATIAndIntelVersionTexts)
{
    struct Case {
        GLVendor vendor;
        const char* version;
        i32 build;
    };
    const Case cases[] = {
        { GLVendor::ATI, "3.3.13399 Compatibility Profile Context", 13399 },
        { GLVendor::ATI, "4.6", 0 },
        { GLVendor::Intel, "3.1.0 - Build 9.17.10.4229", 4229 },
        { GLVendor::Intel, "2.1 APPLE-7.32.12", 12 },
        { GLVendor::Intel, "4.6.0 Mesa 22.3.6", 0 },
        { GLVendor::NVIDIA, "4.6.0 NVIDIA 470.1.2", 0 },
        { GLVendor::ATI, "", 0 },
        { GLVendor::ATI, nullptr, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(driverBuildNumber(c.vendor, c.version), c.build) << (c.version ? c.version : "null");
}

TEST(GLSLVersion, FromTheShadingLanguageTextOrTheOldExtension)
{
    struct Case {
        const char* version;
        const char* shadingLanguage;
        std::vector<std::string> extensions;
        i32 glsl;
    };
    const Case cases[] = {
        { "4.5 (Compatibility Profile) Mesa", "4.50", {}, 450 },
        { "3.0", "1.30", {}, 130 },
        { "3.0", nullptr, {}, 100 },
        { "3.0", "garbage", {}, 100 },
        { "1.5", "1.10", { "GL_ARB_shading_language_100" }, 100 },
        { "1.5", "1.10", {}, 0 },
        { nullptr, nullptr, {}, 0 },
    };
    for (const Case& c : cases) {
        FakeDriver driver;
        driver.version = c.version;
        driver.shadingLanguage = c.shadingLanguage;
        driver.extensions = c.extensions;
        FakeSlots slots(driver);
        EXPECT_EQ(glslVersion(nullptr), c.glsl) << (c.version ? c.version : "null");
    }
}

} // namespace
} // namespace quern::opengl
