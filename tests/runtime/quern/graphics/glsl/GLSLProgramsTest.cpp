// Every built-in GLSL program compiled and linked on the OpenGL implementation
// of this machine, and the computations of the materials' programs checked by
// drawing into a float target.

#include "GLTestContext.h"

#include "quern/graphics/EmbeddedPrograms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace quern::graphics {
namespace {

using testgl::Pixel;
using P = EmbeddedProgram;

testgl::GLTestContext& context()
{
    static testgl::GLTestContext instance;
    return instance;
}

#define REQUIRE_GL_CONTEXT() ASSERT_TRUE(context().error().empty()) << "no OpenGL context: " << context().error()

GLenum stageOf(const EmbeddedProgramSource& source)
{
    return source.text[kEmbeddedStageOffset] == '0' ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER;
}

GLuint compiled(P program)
{
    const EmbeddedProgramSource& source = glslProgramSource(program);
    const testgl::CompileResult result = testgl::compileShader(stageOf(source), source.text, static_cast<long>(source.length));
    EXPECT_TRUE(result.ok) << source.name << ":\n" << result.log;
    return result.shader;
}

GLuint linked(P vertex, P fragment)
{
    const testgl::LinkResult result = testgl::linkProgram(compiled(vertex), compiled(fragment));
    EXPECT_TRUE(result.ok) << glslProgramSource(vertex).name << " + " << glslProgramSource(fragment).name << ":\n"
                           << result.log;
    return result.program;
}

void expectPixel(const Pixel& actual, const Pixel& expected, float tolerance = 1e-4f)
{
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "channel " << i;
}

// Draws a full-target quad with the program, texture unit 0 bound to a 1x1
// texture of `texel`, and returns the pixel.
Pixel drawWithTexel(GLuint program, const Pixel& texel)
{
    testgl::RenderTarget target(1, 1);
    EXPECT_TRUE(target.complete());
    glActiveTexture(GL_TEXTURE0);
    const GLuint texture = testgl::makeTexture(1, 1, {texel});
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "textureMap", 0);
    testgl::draw(program, testgl::screenQuad());
    const Pixel result = target.pixel(0, 0);
    glDeleteTextures(1, &texture);
    return result;
}

TEST(GLSLPrograms, ContextIsOpenGL31OrNewer)
{
    REQUIRE_GL_CONTEXT();
    GLint major = 0;
    GLint minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 31) << context().description();
}

TEST(GLSLPrograms, EveryProgramCompilesWithoutDiagnostics)
{
    REQUIRE_GL_CONTEXT();
    for (const EmbeddedProgramSource& source : glslProgramSources()) {
        const testgl::CompileResult result =
            testgl::compileShader(stageOf(source), source.text, static_cast<long>(source.length));
        EXPECT_TRUE(result.ok) << source.name << ":\n" << result.log;
        EXPECT_EQ(result.log, "") << source.name;
        glDeleteShader(result.shader);
    }
}

TEST(GLSLPrograms, EveryPairTheMaterialsUseLinks)
{
    REQUIRE_GL_CONTEXT();
    const struct {
        P vertex;
        P fragment;
    } pairs[] = {
        {P::UnlitVertex, P::UnlitFragment},
        {P::VertexColorVertex, P::VertexColorFragment},
        {P::VertexColorTexturedVertex, P::VertexColorTexturedFragment},
        {P::TextVertex, P::TextFragment},
        {P::UnlitVertex, P::BlitFragment},
        {P::UnlitVertex, P::BlitMultisampleFragment},
        {P::BlitDownsampleVertex, P::BlitDownsampleFragment},
        {P::UnlitVertex, P::BrightnessFragment},
        {P::UnlitVertex, P::YuvToRgbFragment},
        {P::ParticleVertex, P::ParticleAddFragment},
        {P::ParticleVertex, P::ParticleMultiplyFragment},
        {P::ParticleVertex, P::ParticleAddMultiplyFragment},
    };
    for (const auto& pair : pairs) {
        const GLuint program = linked(pair.vertex, pair.fragment);
        glDeleteProgram(program);
    }
}

TEST(GLSLPrograms, FragmentProgramsComputeTheirColours)
{
    REQUIRE_GL_CONTEXT();
    const struct {
        const char* what;
        P vertex;
        P fragment;
        Pixel texel;
        Pixel color; // the "color" uniform, where the program has one
        Pixel expected;
    } cases[] = {
        {"unlit premultiplies", P::UnlitVertex, P::UnlitFragment, {0.5f, 1.0f, 0.25f, 0.5f}, {1.0f, 0.5f, 1.0f, 1.0f},
         {0.25f, 0.25f, 0.125f, 0.5f}},
        {"blit copies", P::UnlitVertex, P::BlitFragment, {0.1f, 0.2f, 0.3f, 0.4f}, {}, {0.1f, 0.2f, 0.3f, 0.4f}},
        {"textured vertex colour multiplies", P::VertexColorTexturedVertex, P::VertexColorTexturedFragment,
         {0.5f, 0.5f, 1.0f, 1.0f}, {1.0f, 0.5f, 0.5f, 0.5f}, {0.5f, 0.25f, 0.5f, 0.5f}},
        {"untextured vertex colour", P::VertexColorVertex, P::VertexColorFragment, {}, {0.5f, 0.25f, 1.0f, 0.5f},
         {0.5f, 0.25f, 1.0f, 0.5f}},
        // Coverage 0.5 with a white vertex colour gives 0.25 everywhere.
        {"text squares coverage", P::TextVertex, P::TextFragment, {0.5f, 0.9f, 0.9f, 0.9f}, {}, {0.25f, 0.25f, 0.25f, 0.25f}},
        {"particle add premultiplies", P::UnlitVertex, P::ParticleAddFragment, {0.5f, 0.5f, 0.5f, 0.5f}, {},
         {0.25f, 0.25f, 0.25f, 0.5f}},
        {"particle multiply fades to white", P::UnlitVertex, P::ParticleMultiplyFragment, {0.5f, 0.5f, 0.5f, 0.5f}, {},
         {0.75f, 0.75f, 0.75f, 0.75f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The particle fragments read the particle vertex program's outputs;
        // a plain quad feeds them through a matching pass-through here.
        GLuint program = 0;
        if (c.fragment == P::ParticleAddFragment || c.fragment == P::ParticleMultiplyFragment) {
            static const char kPassThrough[] = "#version 140\nin vec4 position; in vec2 texcoord0; in vec4 color;\n"
                                               "out vec2 outTexCoord; out vec4 outColor;\n"
                                               "void main() { outTexCoord = texcoord0; outColor = color; "
                                               "gl_Position = position; }\n";
            const testgl::CompileResult vertex = testgl::compileShader(GL_VERTEX_SHADER, kPassThrough, -1 + sizeof kPassThrough);
            ASSERT_TRUE(vertex.ok) << vertex.log;
            program = testgl::linkProgram(vertex.shader, compiled(c.fragment)).program;
        } else {
            program = linked(c.vertex, c.fragment);
        }
        testgl::setUniform(program, "color", c.color);
        testgl::setUniform(program, "uniformColor", Pixel{1.0f, 1.0f, 1.0f, 1.0f});
        expectPixel(drawWithTexel(program, c.texel), c.expected);
        glDeleteProgram(program);
    }
}

TEST(GLSLPrograms, TextVertexColourIsCutTo8BitsAndTintedByTheUniform)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::TextVertex, P::TextFragment);
    testgl::setUniform(program, "uniformColor", Pixel{0.5f, 1.0f, 1.0f, 1.0f});
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "textureMap", 0);
    testgl::RenderTarget target(1, 1);
    const GLuint texture = testgl::makeTexture(1, 1, {{1.0f, 0.0f, 0.0f, 0.0f}});
    std::vector<testgl::Vertex> quad = testgl::screenQuad();
    // 100.9 / 255 is cut to 100 / 255.
    for (testgl::Vertex& v : quad)
        v.color = {1.0f, 100.9f / 255.0f, 0.0f, 1.0f};
    testgl::draw(program, quad);
    expectPixel(target.pixel(0, 0), {0.5f, 100.0f / 255.0f, 0.0f, 1.0f});
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
}

TEST(GLSLPrograms, BrightnessAppliesGammaAndClampsNegativeSums)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::UnlitVertex, P::BrightnessFragment);
    const auto luma = [](float r, float g, float b) { return 0.299f * r + 0.587f * g + 0.114f * b; };
    const struct {
        float gamma;
        float brightness;
        Pixel texel;
        Pixel expected;
    } cases[] = {
        {2.0f, 0.0f, {0.25f, 0.64f, 0.81f, 0.3f}, {0.5f, 0.8f, 0.9f, luma(0.5f, 0.8f, 0.9f)}},
        {1.0f, 0.0f, {0.2f, 0.4f, 0.6f, 0.3f}, {0.2f, 0.4f, 0.6f, luma(0.2f, 0.4f, 0.6f)}},
        {1.0f, 0.25f, {0.25f, 0.5f, 0.0f, 1.0f}, {0.5f, 0.75f, 0.25f, luma(0.5f, 0.75f, 0.25f)}},
        // Below zero before the power: black, never NaN.
        {2.2f, -0.5f, {0.25f, 0.75f, 0.0f, 1.0f}, {0.0f, std::pow(0.25f, 1.0f / 2.2f), 0.0f,
                                                   luma(0.0f, std::pow(0.25f, 1.0f / 2.2f), 0.0f)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.brightness);
        testgl::setUniform(program, "gamma", c.gamma);
        testgl::setUniform(program, "brightness", c.brightness);
        const Pixel result = drawWithTexel(program, c.texel);
        for (float channel : result)
            EXPECT_FALSE(std::isnan(channel));
        expectPixel(result, c.expected, 1e-3f);
    }
    glDeleteProgram(program);
}

TEST(GLSLPrograms, YuvToRgbConvertsLimitedRangeAndFlipsRows)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::UnlitVertex, P::YuvToRgbFragment);
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "yTexture", 0);
    testgl::setUniform(program, "uTexture", 1);
    testgl::setUniform(program, "vTexture", 2);

    // The Y plane's first row is black, its second white; the chroma planes are neutral.
    glActiveTexture(GL_TEXTURE0);
    const GLuint y = testgl::makeTexture(1, 2, {{0.0625f, 0, 0, 0}, {0.922f, 0, 0, 0}});
    glActiveTexture(GL_TEXTURE1);
    const GLuint u = testgl::makeTexture(1, 1, {{0.5f, 0, 0, 0}});
    glActiveTexture(GL_TEXTURE2);
    const GLuint v = testgl::makeTexture(1, 1, {{0.5f, 0, 0, 0}});
    glActiveTexture(GL_TEXTURE0);

    testgl::RenderTarget target(1, 2);
    testgl::draw(program, testgl::screenQuad());
    // The output's bottom row shows the plane's second row.
    expectPixel(target.pixel(0, 0), {1.0f, 1.0f, 1.0f, 1.0f}, 2e-3f);
    expectPixel(target.pixel(0, 1), {0.0f, 0.0f, 0.0f, 1.0f}, 1e-5f);
    GLuint textures[] = {y, u, v};
    glDeleteTextures(3, textures);
    glDeleteProgram(program);
}

TEST(GLSLPrograms, DownsampleAveragesFourNeighbours)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::BlitDownsampleVertex, P::BlitDownsampleFragment);
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "textureMap", 0);
    testgl::setUniform(program, "texelSize", Pixel{0.5f, 0.5f, 1.0f, 1.0f});
    glActiveTexture(GL_TEXTURE0);
    const GLuint texture =
        testgl::makeTexture(2, 2, {{0, 0, 0, 0}, {1, 10, 0, 0}, {2, 20, 0, 0}, {4, 40, 0, 0}});
    // One output pixel at the centre of the 2x2 image reads each texel once.
    testgl::RenderTarget target(1, 1);
    testgl::draw(program, testgl::screenQuad());
    expectPixel(target.pixel(0, 0), {7.0f / 4.0f, 70.0f / 4.0f, 0.0f, 0.0f});
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
}

TEST(GLSLPrograms, MultisampleBlitAveragesTheSamples)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::UnlitVertex, P::BlitMultisampleFragment);
    GLuint source = 0;
    glGenTextures(1, &source);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, source);
    glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, 4, GL_RGBA32F, 2, 2, GL_TRUE);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D_MULTISAMPLE, source, 0);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    glClearColor(0.2f, 0.4f, 0.6f, 0.8f);
    glClear(GL_COLOR_BUFFER_BIT);

    testgl::RenderTarget target(2, 2);
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "textureMap", 0);
    EXPECT_TRUE(testgl::setUniform(program, "numSamples", 4));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, source);
    testgl::draw(program, testgl::screenQuad());
    expectPixel(target.pixel(1, 1), {0.2f, 0.4f, 0.6f, 0.8f});
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &source);
    glDeleteProgram(program);
}

// One particle at the origin drawn as two triangles of its four corners.
std::vector<testgl::Vertex> particle(float size, float angle)
{
    const auto corner = [&](float u, float v) {
        return testgl::Vertex{{0.0f, 0.0f, 0.0f, 1.0f}, {size, angle}, {u, v}, {1.0f, 1.0f, 1.0f, 1.0f}};
    };
    return {corner(0, 0), corner(1, 0), corner(1, 1), corner(0, 0), corner(1, 1), corner(0, 1)};
}

TEST(GLSLPrograms, ParticleQuadIsScaledByTheProjectionAndRotated)
{
    REQUIRE_GL_CONTEXT();
    const GLuint program = linked(P::ParticleVertex, P::ParticleAddFragment);
    testgl::setMatrix(program, "modelViewProjectionMatrix", testgl::identityMatrix());
    testgl::setUniform(program, "textureMap", 0);
    glActiveTexture(GL_TEXTURE0);
    const GLuint white = testgl::makeTexture(1, 1, {{1.0f, 1.0f, 1.0f, 1.0f}});

    const auto covered = [&](const std::array<float, 16>& projection, float angle) {
        testgl::setMatrix(program, "projectionMatrix", projection);
        testgl::RenderTarget target(8, 8);
        testgl::draw(program, particle(1.0f, angle));
        std::string rows;
        for (int y = 7; y >= 0; --y) {
            for (int x = 0; x < 8; ++x)
                rows += target.pixel(x, y)[3] > 0.5f ? '#' : '.';
            rows += '\n';
        }
        return rows;
    };
    // Size 1 spans [-0.5, 0.5] in clip space: the middle four columns and rows.
    EXPECT_EQ(covered(testgl::identityMatrix(), 0.0f), "........\n"
                                                        "........\n"
                                                        "..####..\n"
                                                        "..####..\n"
                                                        "..####..\n"
                                                        "..####..\n"
                                                        "........\n"
                                                        "........\n");
    // A projection that halves x halves the width.
    std::array<float, 16> narrow = testgl::identityMatrix();
    narrow[0] = 0.5f;
    EXPECT_EQ(covered(narrow, 0.0f), "........\n"
                                     "........\n"
                                     "...##...\n"
                                     "...##...\n"
                                     "...##...\n"
                                     "...##...\n"
                                     "........\n"
                                     "........\n");
    // An eighth of a turn stands the square on its corner.
    EXPECT_EQ(covered(testgl::identityMatrix(), std::numbers::pi_v<float> / 4.0f), "........\n"
                                                                                   "........\n"
                                                                                   "...##...\n"
                                                                                   "..####..\n"
                                                                                   "..####..\n"
                                                                                   "...##...\n"
                                                                                   "........\n"
                                                                                   "........\n");
    glDeleteTextures(1, &white);
    glDeleteProgram(program);
}

} // namespace
} // namespace quern::graphics
