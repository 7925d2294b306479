#include "GLCallRecorder.h"

#include "quern/containers/HandleTable.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLStateObjects.h"
#include "quern/render/RenderJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace quern::opengl {
namespace {

using namespace graphics;
using testing::glCall;

GLuint g_nextName = 0;

// Every GL call the state objects make, recorded; programs link, shaders
// compile, "position" sits at location 0 and "texcoord0" at 3.
class StateObjectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_nextName = 100;
        caps.textureUnits = 8;
        caps.maxAnisotropy = 4.0f;
        recorder.save(glCreateShader);
        glCreateShader = [](GLenum) { return ++g_nextName; };
        recorder.save(glCreateProgram);
        glCreateProgram = [] { return ++g_nextName; };
        recorder.save(glGetShaderiv);
        glGetShaderiv = [](GLuint, GLenum, GLint* value) { *value = 1; };
        recorder.save(glGetProgramiv);
        glGetProgramiv = [](GLuint, GLenum name, GLint* value) { *value = name == GL_LINK_STATUS ? 1 : 0; };
        recorder.save(glGetAttribLocation);
        glGetAttribLocation = [](GLuint program, const GLchar* name) {
            testing::recordGLCall("glGetAttribLocation", program, std::string(name).size());
            return std::strcmp(name, "position") == 0 ? 0 : std::strcmp(name, "texcoord0") == 0 ? 3 : -1;
        };
        QUERN_ANSWER_GL(recorder, glGetError, GLenum { GL_NO_ERROR });
        QUERN_RECORD_GL(recorder, glShaderSource);
        QUERN_RECORD_GL(recorder, glCompileShader);
        QUERN_RECORD_GL(recorder, glAttachShader);
        QUERN_RECORD_GL(recorder, glLinkProgram);
        QUERN_RECORD_GL(recorder, glDeleteProgram);
        QUERN_RECORD_GL(recorder, glUseProgram);
        QUERN_RECORD_GL(recorder, glEnable);
        QUERN_RECORD_GL(recorder, glDisable);
        QUERN_RECORD_GL(recorder, glBlendFunc);
        QUERN_RECORD_GL(recorder, glBlendColor);
        QUERN_RECORD_GL(recorder, glBlendEquation);
        QUERN_RECORD_GL(recorder, glCullFace);
        QUERN_RECORD_GL(recorder, glScissor);
        QUERN_RECORD_GL(recorder, glDepthFunc);
        QUERN_RECORD_GL(recorder, glDepthMask);
        QUERN_RECORD_GL(recorder, glPolygonOffset);
        QUERN_RECORD_GL(recorder, glPolygonMode);
        QUERN_RECORD_GL(recorder, glLineWidth);
        QUERN_RECORD_GL(recorder, glColorMask);
        QUERN_RECORD_GL(recorder, glLogicOp);
        QUERN_RECORD_GL(recorder, glStencilFunc);
        QUERN_RECORD_GL(recorder, glStencilOp);
        QUERN_RECORD_GL(recorder, glActiveTexture);
        QUERN_RECORD_GL(recorder, glBindTexture);
        QUERN_RECORD_GL(recorder, glTexParameteri);
        QUERN_RECORD_GL(recorder, glTexParameterf);
        QUERN_RECORD_GL(recorder, glEnableVertexAttribArray);
        QUERN_RECORD_GL(recorder, glDisableVertexAttribArray);
        QUERN_RECORD_GL(recorder, glVertexAttribPointer);
        QUERN_RECORD_GL(recorder, glUniform1f);
        QUERN_RECORD_GL(recorder, glUniform4f);
        QUERN_RECORD_GL(recorder, glUniformMatrix4fv);
        objects.init(16);
    }
    void TearDown() override { objects.shutdown(); }

    GLSLShaderProgram* compiled(ShaderProgramType type)
    {
        auto* program = new GLSLShaderProgram(type);
        RefCounted::retain(program);
        program->loadCodeImpl("//00000000 0\n", 13, "");
        return program;
    }

    // A Shader whose program state holds the two programs.
    Shader* shaderWith(GLSLShaderProgram* vertex, GLSLShaderProgram* fragment)
    {
        auto* shader = new Shader();
        RefCounted::retain(shader);
        auto* programs = new ShaderProgramState(nullptr);
        programs->setVertexProgram(vertex);
        programs->setFragmentProgram(fragment);
        shader->setShaderProgramState(programs);
        return shader;
    }

    bool called(const std::string& call) const
    {
        return std::find(recorder.calls().begin(), recorder.calls().end(), call) != recorder.calls().end();
    }
    u64 countOf(const std::string& prefix) const
    {
        return std::count_if(recorder.calls().begin(), recorder.calls().end(),
            [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    }

    testing::GLCallRecorder recorder;
    DisplayCaps caps;
    OpenGLStateObjects objects { caps };
    VertexFormat format = VertexFormat::fromFlags(VertexFormat::kHasPosition | VertexFormat::kHasColor);
};

TEST_F(StateObjectsTest, HandlesCarryTheSharedGenerationAndReuseTheLastFreedSlot)
{
    const u32 a = objects.allocate();
    const u32 b = objects.allocate();
    EXPECT_EQ(containers::HandleTable::indexOf(a), 0u);
    EXPECT_EQ(containers::HandleTable::indexOf(b), 1u);
    EXPECT_NE(containers::HandleTable::generationOf(a), 0u);
    objects.destroy(a);
    objects.destroy(b);
    // Last freed first.
    EXPECT_EQ(containers::HandleTable::indexOf(objects.allocate()), 1u);
    // The counter wraps from 0xffff to 1, never 0.
    while (containers::HandleTable::nextGeneration() != 0xfffe) { }
    EXPECT_EQ(containers::HandleTable::generationOf(objects.allocate()), 0xffffu);
    EXPECT_EQ(containers::HandleTable::generationOf(objects.allocate()), 1u);
}

TEST_F(StateObjectsTest, TheFirstBindAppliesEverythingInOrder)
{
    GLSLShaderProgram* vertex = compiled(ShaderProgramType::Vertex);
    GLSLShaderProgram* fragment = compiled(ShaderProgramType::Fragment);
    Shader* shader = shaderWith(vertex, fragment);
    const u32 handle = objects.allocate();
    objects.create(handle, shader, &format);
    const u32 program = objects.record(handle).program;
    // The key is vertex then fragment, attached in that order.
    EXPECT_TRUE(called(glCall("glAttachShader", program, vertex->shaderName())));
    EXPECT_EQ(objects.record(handle).attributeLocations[0], 0);
    EXPECT_EQ(objects.record(handle).attributeLocations[1], -1);
    recorder.clear();
    objects.bind(handle);
    const std::vector<std::string> expected = {
        glCall("glDisable", GL_BLEND),
        glCall("glEnable", GL_CULL_FACE),
        glCall("glCullFace", GL_BACK),
        glCall("glDisable", GL_SCISSOR_TEST),
        glCall("glEnable", GL_DEPTH_TEST),
        glCall("glDepthFunc", GL_LESS),
        glCall("glDepthMask", GLboolean { 1 }),
        glCall("glDisable", GL_POLYGON_OFFSET_FILL),
        glCall("glPolygonMode", GL_FRONT_AND_BACK, GL_FILL),
        glCall("glDisable", GL_LINE_SMOOTH),
        glCall("glLineWidth", 1.0f),
        glCall("glColorMask", GLboolean { 1 }, GLboolean { 1 }, GLboolean { 1 }, GLboolean { 1 }),
        glCall("glDisable", GL_COLOR_LOGIC_OP),
        glCall("glDisable", GL_STENCIL_TEST),
        glCall("glUseProgram", program),
    };
    EXPECT_EQ(recorder.calls(), expected);
    // Binding the current handle again sends nothing.
    recorder.clear();
    objects.bind(handle);
    EXPECT_TRUE(recorder.calls().empty());
    // Re-creating it makes the next bind a full one.
    objects.create(handle, shader, &format);
    recorder.clear();
    objects.bind(handle);
    EXPECT_EQ(recorder.calls(), expected);
    RefCounted::release(shader);
    RefCounted::release(vertex);
    RefCounted::release(fragment);
}

TEST_F(StateObjectsTest, IncrementalBindsResendBlendButOnlyChangedDepthFunctions)
{
    GLSLShaderProgram* vertex = compiled(ShaderProgramType::Vertex);
    GLSLShaderProgram* fragment = compiled(ShaderProgramType::Fragment);
    Shader* blended = shaderWith(vertex, fragment);
    blended->getAlphaBlendState()->setEnabled(true);
    blended->getAlphaBlendState()->setSourceFactor(AlphaBlendState::BlendFactor::SourceAlpha);
    blended->getAlphaBlendState()->setDestinationFactor(AlphaBlendState::BlendFactor::OneMinusSourceAlpha);
    Shader* other = shaderWith(vertex, fragment);
    other->getAlphaBlendState()->setEnabled(true);
    other->getDepthBufferState()->setComparison(Comparison::LessOrEqual);
    const u32 a = objects.allocate();
    const u32 b = objects.allocate();
    objects.create(a, blended, &format);
    objects.create(b, other, &format);
    // Both Shaders use the same pair: one GL program with two references.
    EXPECT_EQ(objects.record(a).program, objects.record(b).program);
    ASSERT_EQ(objects.programs().size(), 1u);
    EXPECT_EQ(objects.programs()[0].references, 2);

    objects.bind(a);
    recorder.clear();
    objects.bind(b);
    EXPECT_EQ(countOf("glEnable(" + std::to_string(GL_BLEND)), 0u);
    EXPECT_EQ(countOf("glBlendFunc"), 1u);
    EXPECT_EQ(countOf("glBlendColor"), 1u);
    EXPECT_EQ(countOf("glBlendEquation"), 1u);
    EXPECT_TRUE(called(glCall("glDepthFunc", GL_LEQUAL)));
    EXPECT_EQ(countOf("glCullFace"), 0u);
    EXPECT_EQ(countOf("glDepthMask"), 0u);
    EXPECT_EQ(countOf("glPolygonMode"), 1u); // fill is always sent
    EXPECT_EQ(countOf("glUseProgram"), 0u);
    recorder.clear();
    objects.bind(a);
    EXPECT_TRUE(called(glCall("glDepthFunc", GL_LESS)));
    EXPECT_EQ(countOf("glBlendFunc"), 1u);

    // Destroying both leaves the entry at count 0 with its program alive...
    const u32 program = objects.record(a).program;
    objects.destroy(a);
    objects.destroy(b);
    EXPECT_EQ(objects.programs()[0].references, 0);
    EXPECT_FALSE(called(glCall("glDeleteProgram", program)));
    // ...until a new pair reuses it.
    GLSLShaderProgram* third = compiled(ShaderProgramType::Fragment);
    Shader* another = shaderWith(vertex, third);
    const u32 c = objects.allocate();
    objects.create(c, another, &format);
    EXPECT_TRUE(called(glCall("glDeleteProgram", program)));
    EXPECT_EQ(objects.programs().size(), 1u);
    for (RefCounted* object : std::initializer_list<RefCounted*> { blended, other, another, vertex, fragment, third })
        RefCounted::release(object);
}

TEST_F(StateObjectsTest, UniformLocationsAndValuesAreSentPerProgram)
{
    // One uniform object shared by two programs that place it differently.
    recorder.save(glGetUniformLocation);
    glGetUniformLocation = [](GLuint program, const GLchar* name) {
        testing::recordGLCall("glGetUniformLocation", program, std::string(name).size());
        if (std::strcmp(name, "shadowMatrix") == 0)
            return program % 2 == 0 ? 2 : 5;
        return -1;
    };
    GLSLShaderProgram* vertex = compiled(ShaderProgramType::Vertex);
    GLSLShaderProgram* first = compiled(ShaderProgramType::Fragment);
    GLSLShaderProgram* second = compiled(ShaderProgramType::Fragment);
    Shader* a = shaderWith(vertex, first);
    Shader* b = shaderWith(vertex, second);
    Uniform* shared = new Uniform("shadowMatrix", UniformType::Float, 1);
    shared->setFloat(0.5f);
    Uniform* unused = new Uniform("notInTheProgram", UniformType::Float, 1);
    for (Shader* shader : { a, b }) {
        auto* state = static_cast<ShaderProgramState*>(shader->renderState(RenderStateID::ShaderProgramState));
        state->addUniform(shared, ShaderProgramState::FragmentStage);
        state->addUniform(unused, ShaderProgramState::FragmentStage);
    }
    const u32 ha = objects.allocate();
    const u32 hb = objects.allocate();
    objects.create(ha, a, &format);
    objects.create(hb, b, &format);
    const u32 pa = objects.record(ha).program;
    const u32 pb = objects.record(hb).program;
    ASSERT_NE(pa % 2, pb % 2) << "the fixture needs one odd and one even program name";
    render::RenderJob job;
    recorder.clear();
    for (int frame = 0; frame < 3; ++frame) {
        for (u32 handle : { ha, hb }) {
            objects.bind(handle);
            objects.setUniforms(static_cast<ShaderProgramState*>(
                                    (handle == ha ? a : b)->renderState(RenderStateID::ShaderProgramState)),
                &job);
        }
    }
    EXPECT_EQ(countOf("glGetUniformLocation"), 4u);
    // Each program got the value at its own location, once while it stays the same.
    EXPECT_EQ(countOf(glCall("glUniform1f", pa % 2 == 0 ? 2 : 5, 0.5f)), 1u);
    EXPECT_EQ(countOf(glCall("glUniform1f", pb % 2 == 0 ? 2 : 5, 0.5f)), 1u);
    EXPECT_EQ(countOf("glUniform1f"), 2u);

    // A changed value is sent again; so is one another uniform object put
    // at the same location in between.
    shared->setFloat(0.25f);
    objects.bind(ha);
    objects.setUniforms(static_cast<ShaderProgramState*>(a->renderState(RenderStateID::ShaderProgramState)), &job);
    EXPECT_EQ(countOf(glCall("glUniform1f", pa % 2 == 0 ? 2 : 5, 0.25f)), 1u);
    Uniform* other = new Uniform("shadowMatrix", UniformType::Float, 1);
    other->setFloat(0.5f);
    ShaderProgramState otherState(nullptr);
    otherState.addUniform(other, ShaderProgramState::FragmentStage);
    objects.setUniforms(&otherState, &job);
    objects.setUniforms(static_cast<ShaderProgramState*>(a->renderState(RenderStateID::ShaderProgramState)), &job);
    EXPECT_EQ(countOf(glCall("glUniform1f", pa % 2 == 0 ? 2 : 5, 0.25f)), 2u);
    for (RefCounted* object : std::initializer_list<RefCounted*> { a, b, vertex, first, second })
        RefCounted::release(object);
}

TEST_F(StateObjectsTest, VertexAttributesTakeTheFormatsTypesAndTheBase)
{
    const u32 handle = objects.allocate();
    VertexFormat textured = VertexFormat::fromFlags(VertexFormat::kHasPosition | (1u << VertexFormat::kTexCoordShift));
    Shader* shader = shaderWith(nullptr, nullptr);
    objects.create(handle, shader, &textured);
    objects.bind(handle);
    recorder.clear();
    objects.bindVertexAttributes(textured, 64);
    const std::vector<std::string> expected = {
        glCall("glEnableVertexAttribArray", 0u),
        glCall("glVertexAttribPointer", 0u, 3, GL_FLOAT, GLboolean { 0 }, static_cast<GLsizei>(textured.stride),
            static_cast<const void*>(nullptr)),
        glCall("glEnableVertexAttribArray", 3u),
        glCall("glVertexAttribPointer", 3u, 2, GL_FLOAT, GLboolean { 0 }, static_cast<GLsizei>(textured.stride),
            static_cast<const void*>(nullptr)),
    };
    EXPECT_EQ(recorder.calls(), expected);
    RefCounted::release(shader);
}

TEST_F(StateObjectsTest, BindTexturesSkipsEmptyUnitsAndLeavesUnitSevenActive)
{
    const u32 handle = objects.allocate();
    Shader* shader = shaderWith(nullptr, nullptr);
    objects.create(handle, shader, &format);
    objects.bind(handle);
    recorder.clear();
    PixelBuffer* none[8] = {};
    objects.bindTextures(none, 3);
    EXPECT_EQ(recorder.calls(), std::vector<std::string> { glCall("glActiveTexture", GL_TEXTURE7) });
    RefCounted::release(shader);
}

using StateObjectsDeathTest = StateObjectsTest;

TEST_F(StateObjectsDeathTest, LinkFailuresAndUnknownAttributeTypesAreFatal)
{
    const u32 handle = objects.allocate();
    Shader* shader = shaderWith(nullptr, nullptr);
    VertexFormat doubles;
    doubles.addAttribute({ VertexAttribute::kPositionID, 3, 0, 0, 0, VertexAttribute::Double, 0 });
    objects.create(handle, shader, &doubles);
    objects.bind(handle);
    EXPECT_DEATH(objects.bindVertexAttributes(doubles, 0), "Unsupported vertex attribute type");

    glGetProgramiv = [](GLuint, GLenum, GLint* value) { *value = 0; };
    EXPECT_DEATH(objects.create(objects.allocate(), shaderWith(compiled(ShaderProgramType::Vertex), nullptr), &format),
        "glLinkProgram\\(\\) failed");
    glCreateProgram = [] { return GLuint { 0 }; };
    EXPECT_DEATH(
        objects.create(objects.allocate(), shaderWith(compiled(ShaderProgramType::Fragment), nullptr), &format),
        "glCreateProgram\\(\\) failed");
    RefCounted::release(shader);
}

} // namespace
} // namespace quern::opengl
