// GL error texts, enumerant and debug-output names, the fatal error check and
// the debug-output installer with its callbacks.

#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/opengl/GLDebugOutput.h"
#include "quern/opengl/GLExtensions.h"
#include "quern/opengl/OpenGLException.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quern::opengl {
namespace {

using testing::LogCapture;
using testing::SlotOverride;

TEST(GLErrorName, TextsOfGLAndGLUCodes)
{
    struct Case {
        u32 code;
        const char* text;
    };
    const Case cases[] = {
        { 0, "no error" },
        { 0x0500, "invalid enum" },
        { 100900, "invalid enum" },
        { 0x0501, "invalid value" },
        { 0x0502, "invalid operation" },
        { 0x0505, "out of memory" },
        { 100902, "out of memory" },
        { 0x0506, "Invalid framebuffer operation" },
        { 0x8CD9, "incomplete dimensions" },
        { 0x8CDD, "FBO unsupported" },
        { 0x8D56, "incomplete multisample buffer" },
        { 100903, "incompatible GL version" },
        { 100151, "missing gluBeginPolygon" },
        { 100158, "FIST recovery process fatal error" },
        { 100251, "spline order un-supported" },
        { 100260, "missing bgncurve()" },
        { 100280, "UNUSED" },
        { 100287, "duplicate point on pwlcurve" },
    };
    for (const Case& c : cases) {
        ASSERT_NE(glErrorName(c.code), nullptr) << c.code;
        EXPECT_STREQ(glErrorName(c.code), c.text) << c.code;
    }
    for (u32 code : { 0x0503u, 0x0504u, 0x8219u, 100150u, 100159u, 100250u, 100288u })
        EXPECT_EQ(glErrorName(code), nullptr) << code;
}

TEST(GLErrorText, UnnamedCodesAreToldInHexadecimal)
{
    EXPECT_STREQ(glErrorText(0x0502), "invalid operation");
    EXPECT_STREQ(glErrorText(0x0503), "Unknown error: 0x503");
    EXPECT_STREQ(glErrorText(0xABCDEF12), "Unknown error: 0xABCDEF12");
}

TEST(GLEnumName, NamesTheLoggedEnumerantsAndFormatsTheRest)
{
    EXPECT_STREQ(glEnumName(0x8D00), "GL_DEPTH_ATTACHMENT_EXT");
    EXPECT_STREQ(glEnumName(GL_RGBA8), "GL_RGBA8");
    EXPECT_STREQ(glEnumName(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT), "GL_COMPRESSED_RGBA_S3TC_DXT5_EXT");
    EXPECT_STREQ(glEnumName(0), "GL_NONE");
    EXPECT_STREQ(glEnumName(GL_COLOR_ATTACHMENT4), "0x8CE4");
}

TEST(DebugOutputName, SourcesTypesSeveritiesAndCategories)
{
    EXPECT_STREQ(debugOutputName(0x8251), "OTHER");
    EXPECT_STREQ(debugOutputName(0x9150), "OTHER");
    EXPECT_STREQ(debugOutputName(0x8246), "API");
    EXPECT_STREQ(debugOutputName(0x826B), "NOTIFICATION");
    EXPECT_STREQ(debugOutputName(0x9146), "HIGH");
    EXPECT_STREQ(debugOutputName(0x914B), "DEPRECATION");
    EXPECT_STREQ(debugOutputName(0x8268), "");
}

TEST(CheckGLError, NoErrorDoesNothing)
{
    LogCapture detail(4);
    checkGLError(0, __FILE__, __LINE__, __PRETTY_FUNCTION__);
    EXPECT_EQ(detail.text(), "");
}

TEST(CheckGLErrorDeathTest, PendingErrorIsFatalWithItsText)
{
    EXPECT_DEATH(
        checkGLError(GL_INVALID_OPERATION, __FILE__, __LINE__, __PRETTY_FUNCTION__), "OpenGL error: invalid operation");
    EXPECT_DEATH(checkGLError(0x0503, __FILE__, __LINE__, __PRETTY_FUNCTION__), "OpenGL error: Unknown error: 0x503");
}

TEST(CheckGLErrorDeathTest, ErrorRaisedByMesaEndsTheProcess)
{
    QUERN_REQUIRE_GL();
    EXPECT_DEATH(
        {
            glEnable(0xFFFF);
            QUERN_CHECK_GL_ERROR();
        },
        "OpenGL error: invalid enum");
}

TEST(DebugCallbacks, FormatEachMechanismsFieldsAndLogBySeverity)
{
    LogCapture errors(1);
    LogCapture warnings(2);
    LogCapture information(3);
    debugCallbackKHR(0x8246, 0x8251, 42, 0x826B, -1, "note", nullptr);
    debugCallbackKHR(0x824A, 0x824C, 7, 0x9146, -1, "broken", nullptr);
    debugCallbackARB(0x8248, 0x8250, 9, 0x9147, -1, "slow", nullptr);
    debugCallbackAMD(3, 0x9149, 0x9148, -1, "odd", nullptr);
    EXPECT_TRUE(information.contains("note (source=API type=OTHER id=42 severity=NOTIFICATION)")) << information.text();
    EXPECT_TRUE(errors.contains("broken (source=APPLICATION type=ERROR id=7 severity=HIGH)")) << errors.text();
    EXPECT_TRUE(warnings.contains("slow (source=SHADER_COMPILER type=PERFORMANCE severity=MEDIUM id=9)"))
        << warnings.text();
    EXPECT_TRUE(information.contains("odd (category=API_ERROR severity=LOW id=3)")) << information.text();
}

TEST(DebugCallbacks, LongMessagesAreCutToTheBuffer)
{
    LogCapture information(3);
    const std::string message(3000, 'x');
    debugCallbackKHR(0x8246, 0x8251, 1, 0x826B, -1, message.c_str(), nullptr);
    const std::string text = information.text();
    EXPECT_NE(text.find(std::string(1000, 'x')), std::string::npos);
    EXPECT_EQ(text.find(std::string(1024, 'x')), std::string::npos);
}

TEST(InstallDebugOutput, MesaGetsTheKHRCallbackAndItsMessagesReachTheLog)
{
    QUERN_REQUIRE_GL();
    LogCapture information(3);
    installDebugOutput();
    EXPECT_TRUE(information.contains("Installing KHR_debug callback")) << information.text();
    EXPECT_FALSE(information.contains("ARB_debug_output"));
    glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_OTHER, 77, GL_DEBUG_SEVERITY_NOTIFICATION, -1,
        "hello from the test");
    glFinish();
    EXPECT_TRUE(information.contains("hello from the test (source=APPLICATION type=OTHER id=77 severity=NOTIFICATION)"))
        << information.text();
    glDebugMessageCallback(nullptr, nullptr);
    glDisable(GL_DEBUG_OUTPUT);
}

TEST(InstallDebugOutput, WithoutKHRTheARBCallbackIsSynchronous)
{
    QUERN_REQUIRE_GL();
    SlotOverride<PFN_glDebugMessageCallback> khr(glDebugMessageCallback, nullptr);
    LogCapture errors(1);
    LogCapture information(3);
    installDebugOutput();
    EXPECT_TRUE(information.contains("Installing ARB_debug_output callback")) << information.text();
    // The test context is not a debug context, whose output is on from the start.
    glEnable(GL_DEBUG_OUTPUT);
    glDebugMessageInsertARB(
        GL_DEBUG_SOURCE_APPLICATION_ARB, GL_DEBUG_TYPE_ERROR_ARB, 5, GL_DEBUG_SEVERITY_HIGH_ARB, -1, "arb message");
    EXPECT_TRUE(errors.contains("arb message (source=APPLICATION type=ERROR severity=HIGH id=5)")) << errors.text();
    glDebugMessageCallbackARB(nullptr, nullptr);
    glDisable(GL_DEBUG_OUTPUT_SYNCHRONOUS_ARB);
    glDisable(GL_DEBUG_OUTPUT);
}

// An AMD-only driver, faked: its registration is recorded and nothing is enabled.
std::vector<std::string> g_fakeExtensions;
std::vector<GLenum> g_enabled;
GLDEBUGPROCAMD g_registeredAMD = nullptr;
void fakeGetIntegerv(GLenum name, GLint* value)
{
    if (name == GL_NUM_EXTENSIONS)
        *value = static_cast<GLint>(g_fakeExtensions.size());
    else if (name == GL_MAJOR_VERSION)
        *value = 3;
    else if (name == GL_MINOR_VERSION)
        *value = 2;
}
const GLubyte* fakeGetStringi(GLenum, GLuint index)
{
    return reinterpret_cast<const GLubyte*>(g_fakeExtensions.at(index).c_str());
}
void fakeEnable(GLenum capability) { g_enabled.push_back(capability); }
void fakeCallbackAMD(GLDEBUGPROCAMD callback, void*) { g_registeredAMD = callback; }

TEST(InstallDebugOutput, AMDOnlyDriverGetsTheAMDCallbackAndNoEnable)
{
    g_fakeExtensions = { "GL_AMD_debug_output" };
    g_enabled.clear();
    g_registeredAMD = nullptr;
    SlotOverride<PFN_glGetIntegerv> integers(glGetIntegerv, fakeGetIntegerv);
    SlotOverride<PFN_glGetStringi> strings(extensionListGetStringi, fakeGetStringi);
    SlotOverride<PFN_glEnable> enable(glEnable, fakeEnable);
    SlotOverride<PFN_glDebugMessageCallback> khr(glDebugMessageCallback, nullptr);
    SlotOverride<PFN_glDebugMessageCallbackARB> arb(glDebugMessageCallbackARB, nullptr);
    SlotOverride<PFN_glDebugMessageCallbackAMD> amd(glDebugMessageCallbackAMD, fakeCallbackAMD);
    LogCapture information(3);
    installDebugOutput();
    EXPECT_TRUE(information.contains("Installing AMD_debug_output callback")) << information.text();
    EXPECT_EQ(g_registeredAMD, &debugCallbackAMD);
    EXPECT_TRUE(g_enabled.empty());
}

TEST(InstallDebugOutput, ResolvedPointersWithoutTheExtensionAreNotUsed)
{
    // Under glvnd every name resolves: the pointers alone must not pick a mechanism.
    g_fakeExtensions = {};
    g_registeredAMD = nullptr;
    SlotOverride<PFN_glGetIntegerv> integers(glGetIntegerv, fakeGetIntegerv);
    SlotOverride<PFN_glGetStringi> strings(extensionListGetStringi, fakeGetStringi);
    SlotOverride<PFN_glDebugMessageCallback> khr(glDebugMessageCallback, nullptr);
    SlotOverride<PFN_glDebugMessageCallbackARB> arb(glDebugMessageCallbackARB, nullptr);
    SlotOverride<PFN_glDebugMessageCallbackAMD> amd(glDebugMessageCallbackAMD, fakeCallbackAMD);
    LogCapture warnings(2);
    installDebugOutput();
    EXPECT_TRUE(warnings.contains("OpenGL debug output not supported")) << warnings.text();
    EXPECT_EQ(g_registeredAMD, nullptr);
}

} // namespace
} // namespace quern::opengl
