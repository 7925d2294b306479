#include "GLCallRecorder.h"
#include "GLTestSupport.h"
#include "SDLTestContext.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/EmbeddedPrograms.h"
#include "quern/io/StringSource.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/GLSLShaderProgram.h"

#include <gtest/gtest.h>

#include <string>

namespace quern::opengl {
namespace {

using graphics::ShaderProgramType;

const char* const kVertexText = "//00000000 0\n#version 140\nin vec3 position;\nvoid main() { gl_Position = "
                                "vec4(position, 1.0); }\n";
const char* const kBrokenText = "//00000000 1\n#version 140\nvoid main() { this is not glsl; }\n";

class GLSLShaderProgramTest : public ::testing::Test {
protected:
    void SetUp() override { graphics::Display::set(nullptr); }

    // Runs the handler's load and finalize over `text` as asset `assetId`.
    GLSLShaderProgram* load(const std::string& text, u64 assetId)
    {
        StringSource source(text.data(), text.size());
        assets::DefaultAssetLoaderContext context(assetId, depot, cache);
        assets::AssetHandlerInfo info {};
        handler.describe(info);
        context.setScratch(info.scratchBytes);
        handler.load(source, context);
        auto* program = static_cast<GLSLShaderProgramHandler::Scratch*>(context.scratch())->program;
        handler.finalize(context);
        return program;
    }

    u32 shaderType(const GLSLShaderProgram& program)
    {
        GLint type = 0;
        glGetShaderiv(program.shaderName(), GL_SHADER_TYPE, &type);
        return static_cast<u32>(type);
    }

    assets::FileSystemDepot depot { "." };
    assets::DefaultResourceCache cache;
    GLSLShaderProgramHandler handler;
};

TEST_F(GLSLShaderProgramTest, HandlerDescribesAMainThreadNativeLoaderWithScratch)
{
    assets::AssetHandlerInfo info {};
    handler.describe(info);
    EXPECT_STREQ(info.format, "native");
    EXPECT_EQ(info.typeId, 0x2f72e60fbf21825full);
    EXPECT_EQ(info.scratchBytes, 24u);
    EXPECT_FALSE(info.keepOpen);
    EXPECT_TRUE(info.mainThreadStages);
}

TEST_F(GLSLShaderProgramTest, TheTwelfthCharacterChoosesTheShaderKind)
{
    QUERN_REQUIRE_GL();
    struct Case {
        char kind;
        u32 expected;
    };
    const Case cases[] = { { '0', GL_VERTEX_SHADER }, { '1', GL_FRAGMENT_SHADER }, { '7', GL_FRAGMENT_SHADER } };
    u64 assetId = 300;
    for (const Case& c : cases) {
        std::string text = c.kind == '0' ? kVertexText
                                         : "//00000000 1\n#version 140\nout vec4 colour;\nvoid main() { colour = "
                                           "vec4(1.0); }\n";
        text[11] = c.kind;
        GLSLShaderProgram* program = load(text, ++assetId);
        ASSERT_NE(program, nullptr);
        EXPECT_NE(program->shaderName(), 0u);
        EXPECT_EQ(shaderType(*program), c.expected) << c.kind;
        EXPECT_EQ(program->language(), graphics::ShaderLanguage::GLSL);
        EXPECT_EQ(program->state(), assets::Resource::Loaded);
        EXPECT_EQ(program->text(), text);
    }
}

TEST_F(GLSLShaderProgramTest, EveryBuiltInProgramCompilesThroughTheHandler)
{
    QUERN_REQUIRE_GL();
    assets::AssetHandlerRegistry registry;
    registry.create<GLSLShaderProgramHandler>();
    assets::AssetHandlerRegistry::setInstance(&registry);
    quern::testing::LogCapture errors(1);
    for (const graphics::EmbeddedProgramSource& source : graphics::glslProgramSources()) {
        const graphics::EmbeddedProgram one[] = { source.program };
        graphics::registerEmbeddedPrograms(graphics::ShaderLanguage::GLSL, cache, one, __FILE__, __LINE__);
        const u64 key = graphics::embeddedProgramKey(source.program);
        ASSERT_NE(key, 0u) << source.name;
        const u32 handle = cache.acquire(key);
        u64 type = 0;
        auto* program = static_cast<GLSLShaderProgram*>(static_cast<RefCounted*>(cache.entry(handle, type)));
        ASSERT_NE(program, nullptr) << source.name;
        GLint compiled = 0;
        glGetShaderiv(program->shaderName(), GL_COMPILE_STATUS, &compiled);
        EXPECT_EQ(compiled, GL_TRUE) << source.name;
        const bool vertex = source.name[std::string(source.name).size() - 1] == 'v';
        EXPECT_EQ(shaderType(*program), vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER) << source.name;
        cache.release(handle);
    }
    EXPECT_EQ(errors.text(), "");
    assets::AssetHandlerRegistry::setInstance(nullptr);
    graphics::clearEmbeddedProgramKeys();
}

TEST_F(GLSLShaderProgramTest, ACompiledProgramLogsOnlyItsLoadedLine)
{
    QUERN_REQUIRE_GL();
    quern::testing::LogCapture log(4);
    load(kVertexText, 400);
    EXPECT_TRUE(log.contains("Shader program '"));
    EXPECT_TRUE(log.contains("' loaded"));
    EXPECT_FALSE(log.contains("Error"));
}

using GLSLShaderProgramDeathTest = GLSLShaderProgramTest;

TEST_F(GLSLShaderProgramDeathTest, AnAssetThatFailsToCompileEndsWithTheCompilersLogAlone)
{
    QUERN_REQUIRE_GL();
    // The source is logged first; the message is Mesa's log with no name after it.
    EXPECT_DEATH(load(kBrokenText, 500), "Error compiling GLSL shader:(.|\n)*unexpected ERROR_TOK\n");
}

TEST_F(GLSLShaderProgramDeathTest, ARecompileThatFailsNamesTheProgram)
{
    QUERN_REQUIRE_GL();
    GLSLShaderProgram program(ShaderProgramType::Fragment);
    EXPECT_DEATH(program.loadCodeImpl(kBrokenText, std::string(kBrokenText).size(), "broken_glsl_p"),
        "error.* \\(in 'broken_glsl_p'\\)");
}

TEST_F(GLSLShaderProgramDeathTest, AFailureWithoutALogReportsThePendingErrorOrUnknown)
{
    GLSLShaderProgram program(ShaderProgramType::Vertex);
    testing::GLCallRecorder recorder;
    QUERN_ANSWER_GL(recorder, glCreateShader, GLuint { 5 });
    QUERN_RECORD_GL(recorder, glShaderSource);
    QUERN_RECORD_GL(recorder, glCompileShader);
    // Status 0 and an empty log.
    recorder.save(glGetShaderiv);
    glGetShaderiv = [](GLuint, GLenum, GLint* value) { *value = 0; };
    QUERN_ANSWER_GL(recorder, glGetError, GLenum { GL_NO_ERROR });
    EXPECT_DEATH(program.loadCodeImpl(kVertexText, 12, ""), "Unknown error");
    // The first glGetError is the one that clears; the second reports.
    glGetError = [] {
        static int calls = 0;
        return ++calls == 1 ? GLenum { GL_NO_ERROR } : GLenum { GL_INVALID_VALUE };
    };
    EXPECT_DEATH(program.loadCodeImpl(kVertexText, 12, ""), "invalid value");
}

TEST_F(GLSLShaderProgramDeathTest, ShortTextsAndAMissingShaderObjectAreFatal)
{
    for (const std::string& text : { std::string(), std::string("//00000000 ") })
        EXPECT_DEATH(load(text, 600), "Shader program text too short to name its stage");
    GLSLShaderProgram program(ShaderProgramType::Vertex);
    testing::GLCallRecorder recorder;
    QUERN_ANSWER_GL(recorder, glCreateShader, GLuint { 0 });
    QUERN_ANSWER_GL(recorder, glGetError, GLenum { GL_NO_ERROR });
    EXPECT_DEATH(program.loadCodeImpl(kVertexText, 12, ""), "glCreateShader\\(\\) failed");
}

TEST_F(GLSLShaderProgramTest, ReleasingWithoutAnOpenDisplayKeepsTheShaderName)
{
    QUERN_REQUIRE_GL();
    GLSLShaderProgram* program = load(kVertexText, 700);
    const u32 name = program->shaderName();
    ASSERT_NE(name, 0u);
    program->releaseDeviceObject();
    EXPECT_EQ(program->shaderName(), name);
    GLSLShaderProgram empty(ShaderProgramType::Vertex);
    empty.releaseDeviceObject();
    EXPECT_EQ(empty.shaderName(), 0u);
}

} // namespace
} // namespace quern::opengl
