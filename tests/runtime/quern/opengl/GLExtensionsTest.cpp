// The generated entry-point table, the loader walk with its fatal missing-name
// path, and the extension test's matching rules, on fakes and on Mesa.

#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/opengl/GLContext.h"
#include "quern/opengl/GLExtensions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace quern::opengl {
namespace {

using testing::SlotOverride;

void* slotValue(const GLEntryPoint& entry)
{
    void* value = nullptr;
    std::memcpy(&value, entry.slot, sizeof value);
    return value;
}

void setSlot(const GLEntryPoint& entry, void* value) { std::memcpy(entry.slot, &value, sizeof value); }

// Answers every name with a distinct fake address, except the names it is told to miss.
class FakeLoader final : public ProcAddressLoader {
public:
    std::set<std::string> missing;
    std::vector<std::string> asked;

    void* getProcAddress(const char* name) override
    {
        asked.push_back(name);
        if (missing.count(name))
            return nullptr;
        return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + asked.size()));
    }
};

// Restores every table slot when the test ends.
class SavedTable {
public:
    SavedTable()
    {
        for (const GLEntryPoint& entry : kGLEntryPoints)
            m_values.push_back(slotValue(entry));
    }
    ~SavedTable()
    {
        for (size_t i = 0; i < kGLEntryPointCount; ++i)
            setSlot(kGLEntryPoints[i], m_values[i]);
    }

private:
    std::vector<void*> m_values;
};

size_t indexOf(const char* name)
{
    for (size_t i = 0; i < kGLEntryPointCount; ++i)
        if (std::strcmp(kGLEntryPoints[i].name, name) == 0)
            return i;
    return kGLEntryPointCount;
}

TEST(GLEntryPointTable, RequiredSetIsEveryGL31CommandOnceAndComesFirst)
{
    ASSERT_EQ(kRequiredGLEntryPointCount, 647u);
    std::set<std::string> names;
    for (size_t i = 0; i < kGLEntryPointCount; ++i) {
        const GLEntryPoint& entry = kGLEntryPoints[i];
        EXPECT_EQ(entry.required, i < kRequiredGLEntryPointCount) << entry.name;
        EXPECT_TRUE(names.insert(entry.name).second) << "twice: " << entry.name;
        EXPECT_EQ(std::strncmp(entry.name, "gl", 2), 0) << entry.name;
        EXPECT_NE(std::strncmp(entry.name, "glX", 3), 0) << entry.name;
    }
    struct Case {
        const char* name;
        bool required;
    };
    const Case cases[] = {
        { "glBegin", true },
        { "glCopyPixels", true },
        { "glInterleavedArrays", true },
        { "glTexImage3D", true },
        { "glLoadTransposeMatrixf", true },
        { "glWindowPos2f", true },
        { "glMapBuffer", true },
        { "glStencilOpSeparate", true },
        { "glUniformMatrix2x3fv", true },
        { "glGetStringi", true },
        { "glBindVertexArray", true },
        { "glPrimitiveRestartIndex", true },
        { "glUniformBlockBinding", true },
        { "glTexImage2DMultisample", false },
        { "glColorTableEXT", false },
        { "glDebugMessageCallback", false },
        { "glDebugMessageCallbackARB", false },
        { "glDebugMessageCallbackAMD", false },
    };
    for (const Case& c : cases) {
        const size_t index = indexOf(c.name);
        ASSERT_LT(index, kGLEntryPointCount) << c.name;
        EXPECT_EQ(kGLEntryPoints[index].required, c.required) << c.name;
    }
    // Core-only names of later versions that no extension declares are not resolved.
    EXPECT_EQ(indexOf("glGetInteger64i_v"), kGLEntryPointCount);
}

TEST(GLEntryPointTable, SlotsAreTheTypedPointers)
{
    EXPECT_EQ(kGLEntryPoints[indexOf("glBindTexture")].slot, static_cast<void*>(&glBindTexture));
    EXPECT_EQ(
        kGLEntryPoints[indexOf("glDebugMessageCallbackAMD")].slot, static_cast<void*>(&glDebugMessageCallbackAMD));
}

TEST(ResolveGLEntryPoints, MissingRequiredNameStopsTheWalkThere)
{
    SavedTable saved;
    void* const previous = reinterpret_cast<void*>(0xdead);
    for (const GLEntryPoint& entry : kGLEntryPoints)
        setSlot(entry, previous);
    FakeLoader loader;
    const char* hundredth = kGLEntryPoints[99].name;
    loader.missing.insert(hundredth);

    EXPECT_STREQ(resolveGLEntryPoints(loader), hundredth);
    for (size_t i = 0; i < 99; ++i)
        EXPECT_NE(slotValue(kGLEntryPoints[i]), previous) << kGLEntryPoints[i].name;
    EXPECT_EQ(slotValue(kGLEntryPoints[99]), nullptr);
    for (size_t i = 100; i < kGLEntryPointCount; ++i)
        ASSERT_EQ(slotValue(kGLEntryPoints[i]), previous) << kGLEntryPoints[i].name;
    EXPECT_EQ(loader.asked.size(), 100u);
}

TEST(ResolveGLEntryPoints, MissingOptionalNamesAreLeftNullAndNotReported)
{
    SavedTable saved;
    FakeLoader loader;
    loader.missing = { "glDebugMessageCallbackAMD", "glColorTableEXT" };
    EXPECT_EQ(resolveGLEntryPoints(loader), nullptr);
    EXPECT_EQ(glDebugMessageCallbackAMD, nullptr);
    EXPECT_EQ(glColorTableEXT, nullptr);
    EXPECT_NE(glDebugMessageCallback, nullptr);
    EXPECT_EQ(loader.asked.size(), kGLEntryPointCount);
}

TEST(InitExtensionsDeathTest, MissingRequiredNameEndsTheProcessWithTheName)
{
    EXPECT_DEATH(
        {
            FakeLoader loader;
            loader.missing.insert("glCopyPixels");
            initExtensions(loader);
        },
        "glCopyPixels");
}

TEST(InitExtensions, ResolvesThroughSDLOnMesa)
{
    QUERN_REQUIRE_GL();
    for (size_t i = 0; i < kRequiredGLEntryPointCount; ++i)
        ASSERT_NE(slotValue(kGLEntryPoints[i]), nullptr) << kGLEntryPoints[i].name;
    EXPECT_NE(extensionListGetStringi, nullptr);
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_NE(std::string(version).find("Compatibility Profile"), std::string::npos) << version;
}

TEST(ExtensionMatching, GLListEntryMustEndWithTheName)
{
    struct Case {
        const char* entry;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        { "GL_ARB_shading_language_100", "ARB_shading_language_100", true },
        { "GL_ARB_shading_language_100", "GL_ARB_shading_language_100", true },
        { "GL_EXT_texture_sRGB_decode", "GL_EXT_texture_sRGB", false },
        { "GL_EXT_texture_sRGB", "GL_EXT_texture_sRGB", true },
        // Only the first occurrence in an entry counts.
        { "GL_X_a_X", "X", false },
        { "GL_ARB_imaging", "GL_ARB_imaging_extra", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(extensionEntryMatches(c.entry, c.name), c.match) << c.entry << " / " << c.name;
}

TEST(ExtensionMatching, WindowSystemListNeedsWhiteSpaceOrEndAfterTheName)
{
    struct Case {
        const char* list;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        { "GLX_EXT_swap_control_tear GLX_EXT_swap_control", "GLX_EXT_swap_control", true },
        { "GLX_EXT_swap_control_tear", "GLX_EXT_swap_control", false },
        { "GLX_EXT_swap_control_tear\tGLX_ARB_multisample", "GLX_EXT_swap_control_tear", true },
        { "GLX_ARB_multisample\nGLX_EXT_swap_control\r", "GLX_EXT_swap_control", true },
        { "", "GLX_EXT_swap_control", false },
        { "GLX_ARB_multisample", "", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(extensionListContains(c.list, c.name), c.match) << c.list << " / " << c.name;
}

// A GL list of fixed entries behind the extension test's own glGetStringi.
std::vector<std::string> g_fakeList;
void fakeGetIntegerv(GLenum name, GLint* value)
{
    if (name == GL_NUM_EXTENSIONS)
        *value = static_cast<GLint>(g_fakeList.size());
}
const GLubyte* fakeGetStringi(GLenum, GLuint index)
{
    return reinterpret_cast<const GLubyte*>(g_fakeList.at(index).c_str());
}

TEST(IsExtensionSupported, MatchesTailsOfTheGLList)
{
    g_fakeList = { "", "GL_ARB_shading_language_100", "GL_EXT_texture_sRGB_decode" };
    SlotOverride<PFN_glGetIntegerv> integers(glGetIntegerv, fakeGetIntegerv);
    SlotOverride<PFN_glGetStringi> strings(extensionListGetStringi, fakeGetStringi);
    EXPECT_TRUE(isExtensionSupported("ARB_shading_language_100"));
    EXPECT_FALSE(isExtensionSupported("GL_EXT_texture_sRGB"));
    EXPECT_FALSE(isExtensionSupported(""));
    g_fakeList.push_back("GL_EXT_texture_sRGB");
    EXPECT_TRUE(isExtensionSupported("GL_EXT_texture_sRGB"));
}

TEST(IsExtensionSupported, WithoutTheGLListOnlyTheWindowSystemAnswers)
{
    g_fakeList = { "GL_ARB_texture_float" };
    SlotOverride<PFN_glGetIntegerv> integers(glGetIntegerv, fakeGetIntegerv);
    SlotOverride<PFN_glGetStringi> strings(extensionListGetStringi, nullptr);
    EXPECT_FALSE(isExtensionSupported("GL_ARB_texture_float"));
}

TEST(IsExtensionSupported, MesaContext)
{
    QUERN_REQUIRE_GL();
    EXPECT_TRUE(isExtensionSupported("GL_ARB_texture_float"));
    EXPECT_TRUE(isExtensionSupported("ARB_shading_language_100"));
    EXPECT_TRUE(isExtensionSupported("GL_KHR_debug"));
    EXPECT_FALSE(isExtensionSupported("GL_EXT_paletted_texture"));
    EXPECT_FALSE(isExtensionSupported("GL_AMD_debug_output"));
    EXPECT_FALSE(isExtensionSupported(""));
}

TEST(IsExtensionSupported, WindowSystemOfTheCurrentContextAnswers)
{
    std::string error;
    testing::SDLTestContext* context = testing::sharedContext(error);
    ASSERT_NE(context, nullptr) << error;
    GLContext* glue = currentGLContext();
    ASSERT_NE(glue, nullptr) << "driver " << context->videoDriver();
    const bool glx = glue == glContextGLX();
    EXPECT_EQ(glx, std::string(context->videoDriver()) == "x11") << context->videoDriver();
    const char* list = glue->extensionString();
    ASSERT_NE(list, nullptr);
    // Both window systems of Mesa list their create-context extension.
    EXPECT_TRUE(isExtensionSupported(glx ? "GLX_ARB_create_context" : "EGL_KHR_create_context")) << list;
}

TEST(GLContext, KnowsWhetherAContextIsCurrent)
{
    std::string error;
    testing::SDLTestContext* context = testing::sharedContext(error);
    ASSERT_NE(context, nullptr) << error;
    EXPECT_TRUE(isGLContextCurrent());
    context->makeCurrent(false);
    EXPECT_FALSE(isGLContextCurrent());
    EXPECT_EQ(currentWindowSystemExtensions(), nullptr);
    context->makeCurrent(true);
    EXPECT_TRUE(isGLContextCurrent());
}

} // namespace
} // namespace quern::opengl
