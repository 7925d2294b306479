#include "StateTestSupport.h"

#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/render/RenderContext.h"
#include "quern/render/RenderJob.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quern::graphics {
namespace {

using test::ChangeRecorder;
using test::Held;

math::Matrix4 numbered(f32 start)
{
    math::Matrix4 m;
    for (u32 i = 0; i < 16; ++i)
        m.m[i] = start + static_cast<f32>(i);
    return m;
}

TEST(Uniform, DefaultIsAnIdentityMatrixNotYetLookedUp)
{
    Held<Uniform> uniform(new Uniform());
    EXPECT_EQ(uniform->type(), UniformType::Matrix4);
    EXPECT_EQ(uniform->count(), 16u);
    EXPECT_EQ(uniform->location(), Uniform::kLocationUnknown);
    EXPECT_FALSE(uniform->isPerDraw());
    EXPECT_TRUE(uniform->name().empty());
    const math::Matrix4 identity;
    EXPECT_EQ(std::memcmp(uniform->getValue(render::RenderJob {}), identity.m, sizeof(identity.m)), 0);
}

TEST(Uniform, StoredValuesIgnoreTheDraw)
{
    Held<Uniform> uniform(new Uniform("tint", UniformType::Vector, 4));
    const f32 tint[4] = { 0.25f, 0.5f, 0.75f, 1.0f };
    uniform->setValue(tint, 4);
    const math::Matrix4 model = numbered(1);
    render::RenderJob job;
    job.modelMatrix = &model;
    EXPECT_EQ(std::memcmp(uniform->getValue(job), tint, sizeof(tint)), 0);
    EXPECT_EQ(uniform->count(), 4u);
}

TEST(UniformDeathTest, AValueBeyondTheStorageIsFatal)
{
    Held<Uniform> uniform(new Uniform("big", UniformType::FloatArray, 4));
    f32 values[17] = {};
    EXPECT_DEATH(uniform->setValue(values, 17), "Uniform value too large for its storage");
}

TEST(Uniform, AutomaticUniformsReadTheirMatrixFromTheDraw)
{
    const math::Matrix4 model = numbered(0), modelView = numbered(100), mvp = numbered(200), view = numbered(300),
                        projection = numbered(400);
    render::RenderContext context;
    context.projectionMatrix = &projection;
    render::RenderJob job;
    job.modelMatrix = &model;
    job.modelViewMatrix = &modelView;
    job.modelViewProjectionMatrix = &mvp;
    job.viewMatrix = &view;
    job.context = &context;

    struct Case {
        Uniform* uniform;
        const char* name;
        const math::Matrix4* expected;
    };
    Held<ModelMatrixUniform> modelUniform(new ModelMatrixUniform());
    Held<ModelViewMatrixUniform> modelViewUniform(new ModelViewMatrixUniform());
    Held<ModelViewProjectionMatrixUniform> mvpUniform(new ModelViewProjectionMatrixUniform());
    Held<ViewMatrixUniform> viewUniform(new ViewMatrixUniform());
    Held<ProjectionMatrixUniform> projectionUniform(new ProjectionMatrixUniform());
    const Case cases[] = {
        { modelUniform.get(), "modelMatrix", &model },
        { modelViewUniform.get(), "modelViewMatrix", &modelView },
        { mvpUniform.get(), "modelViewProjectionMatrix", &mvp },
        { viewUniform.get(), "viewMatrix", &view },
        { projectionUniform.get(), "projectionMatrix", &projection },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.uniform->name(), c.name);
        EXPECT_TRUE(c.uniform->isPerDraw());
        EXPECT_EQ(c.uniform->type(), UniformType::Matrix4);
        EXPECT_EQ(c.uniform->getValue(job), c.expected->m);
        EXPECT_EQ(c.uniform->getValue(render::RenderJob {}), nullptr);
    }
}

TEST(Uniform, NormalMatrixDropsOnlyTheTranslation)
{
    math::Matrix4 model;
    model.m[0] = 2.0f; // scale stays
    model.m[5] = 3.0f;
    model.m[4] = 0.5f;
    model.m[12] = 5.0f;
    model.m[13] = 6.0f;
    model.m[14] = 7.0f;
    model.m[15] = 9.0f;
    render::RenderJob job;
    job.modelMatrix = &model;
    Held<NormalMatrixUniform> normal(new NormalMatrixUniform());
    EXPECT_EQ(normal->name(), "normalMatrix");

    const f32* value = static_cast<const f32*>(normal->getValue(job));
    ASSERT_NE(value, nullptr);
    for (u32 i = 0; i < 12; ++i)
        EXPECT_EQ(value[i], model.m[i]) << i;
    EXPECT_EQ(value[12], 0.0f);
    EXPECT_EQ(value[13], 0.0f);
    EXPECT_EQ(value[14], 0.0f);
    EXPECT_EQ(value[15], 1.0f);
    EXPECT_EQ(model.m[12], 5.0f);
}

TEST(Uniform, TextureUniformIsASamplerOfItsUnit)
{
    Held<TextureUniform> sampler(new TextureUniform("diffuse", 3));
    EXPECT_EQ(sampler->type(), UniformType::Sampler);
    EXPECT_EQ(sampler->count(), 1u);
    EXPECT_EQ(sampler->unit(), 3);
    EXPECT_FALSE(sampler->texture());
}

class ShaderProgramStateTest : public ::testing::Test {
protected:
    Uniform* make(const char* name, f32 value)
    {
        Uniform* uniform = new Uniform(name, UniformType::Float, 1);
        uniform->setFloat(value);
        owned.push_back(uniform);
        RefCounted::retain(uniform);
        return uniform;
    }
    void TearDown() override
    {
        for (Uniform* uniform : owned)
            RefCounted::release(uniform);
    }

    static std::vector<std::string> names(const UniformList& list)
    {
        std::vector<std::string> out;
        for (u64 i = 0; i < list.count(); ++i)
            out.push_back(list.at(i)->name());
        return out;
    }

    std::vector<Uniform*> owned;
};

TEST_F(ShaderProgramStateTest, AddAnnouncesAndTracksPerDrawUniforms)
{
    Held<ShaderProgramState> state(new ShaderProgramState(nullptr));
    ChangeRecorder recorder;
    state->setListener(&recorder);
    Uniform* alpha = make("alpha", 1);
    state->addUniform(alpha, ShaderProgramState::FragmentStage);
    EXPECT_FALSE(state->hasPerDrawUniforms());
    EXPECT_EQ(alpha->refCount(), 2);

    Held<ModelViewProjectionMatrixUniform> mvp(new ModelViewProjectionMatrixUniform());
    state->addUniform(mvp.get(), ShaderProgramState::VertexStage);
    EXPECT_TRUE(state->hasPerDrawUniforms());
    EXPECT_TRUE(state->differs(*state));
    EXPECT_EQ(recorder.changes.size(), 2u);

    state->removeUniform(mvp.get(), ShaderProgramState::VertexStage);
    EXPECT_FALSE(state->hasPerDrawUniforms());
    EXPECT_FALSE(state->differs(*state));
    EXPECT_EQ(mvp->refCount(), 1);
    EXPECT_EQ(recorder.changes.size(), 2u);
}

TEST_F(ShaderProgramStateTest, RemoveTakesEveryHandleAndKeepsTheOrder)
{
    Held<ShaderProgramState> state(new ShaderProgramState(nullptr));
    Uniform* a = make("a", 1);
    Uniform* b = make("b", 2);
    Uniform* c = make("c", 3);
    for (Uniform* u : { a, b, c, b })
        state->addUniform(u, ShaderProgramState::VertexStage);
    state->removeUniform(b, ShaderProgramState::VertexStage);
    EXPECT_EQ(names(state->uniforms(ShaderProgramState::VertexStage)), (std::vector<std::string> { "a", "c" }));
    EXPECT_EQ(b->refCount(), 1);
}

TEST_F(ShaderProgramStateTest, MergeReplacesTheFirstOfTheSameNameAndAppends)
{
    Held<ShaderProgramState> target(new ShaderProgramState(nullptr));
    Held<ShaderProgramState> source(new ShaderProgramState(nullptr));
    Uniform* oldColour = make("colour", 1);
    for (Uniform* u : { make("a", 1), oldColour, make("b", 2) })
        target->addUniform(u, ShaderProgramState::FragmentStage);
    Uniform* newColour = make("colour", 9);
    source->addUniform(newColour, ShaderProgramState::FragmentStage);
    source->addUniform(make("extra", 4), ShaderProgramState::FragmentStage);

    target->mergeUniforms(ShaderProgramState::FragmentStage, source->uniforms(ShaderProgramState::FragmentStage));
    EXPECT_EQ(names(target->uniforms(ShaderProgramState::FragmentStage)),
        (std::vector<std::string> { "a", "b", "colour", "extra" }));
    EXPECT_EQ(target->uniforms(ShaderProgramState::FragmentStage).at(2), newColour);
    EXPECT_EQ(oldColour->refCount(), 1);

    // Merging a list into itself keeps each uniform once.
    target->mergeUniforms(ShaderProgramState::FragmentStage, target->uniforms(ShaderProgramState::FragmentStage));
    EXPECT_EQ(names(target->uniforms(ShaderProgramState::FragmentStage)),
        (std::vector<std::string> { "a", "b", "colour", "extra" }));
}

TEST_F(ShaderProgramStateTest, EqualsComparesProgramsByIdentityAndUniformsByValue)
{
    Held<NullShaderProgram> vertex(new NullShaderProgram(ShaderProgramType::Vertex));
    Held<NullShaderProgram> other(new NullShaderProgram(ShaderProgramType::Vertex));
    Held<ShaderProgramState> a(new ShaderProgramState(nullptr));
    Held<ShaderProgramState> b(new ShaderProgramState(nullptr));
    a->setVertexProgram(vertex.get());
    b->setVertexProgram(vertex.get());
    a->addUniform(make("x", 1), ShaderProgramState::VertexStage);
    b->addUniform(make("y", 1), ShaderProgramState::VertexStage);
    EXPECT_TRUE(a->equals(*b)); // equal values, whatever the names

    b->setVertexProgram(other.get());
    EXPECT_FALSE(a->equals(*b));
    b->setVertexProgram(vertex.get());
    b->addUniform(make("z", 2), ShaderProgramState::VertexStage);
    EXPECT_FALSE(a->equals(*b));
}

// Every material makes its own automatic uniforms; comparing two passes must
// not read a matrix from a draw that does not exist.
TEST_F(ShaderProgramStateTest, DistinctAutomaticUniformsCompareByTheMatrixTheyName)
{
    Held<ShaderProgramState> a(new ShaderProgramState(nullptr));
    Held<ShaderProgramState> b(new ShaderProgramState(nullptr));
    Held<ModelViewProjectionMatrixUniform> mvpA(new ModelViewProjectionMatrixUniform());
    Held<ModelViewProjectionMatrixUniform> mvpB(new ModelViewProjectionMatrixUniform());
    Held<NormalMatrixUniform> normal(new NormalMatrixUniform());
    a->addUniform(mvpA.get(), ShaderProgramState::VertexStage);
    b->addUniform(mvpB.get(), ShaderProgramState::VertexStage);
    EXPECT_TRUE(a->equals(*b));

    Held<ShaderProgramState> c(new ShaderProgramState(nullptr));
    c->addUniform(normal.get(), ShaderProgramState::VertexStage);
    EXPECT_FALSE(a->equals(*c));
    Held<ShaderProgramState> d(new ShaderProgramState(nullptr));
    d->addUniform(make("stored", 0), ShaderProgramState::VertexStage);
    EXPECT_FALSE(d->equals(*a));
}

TEST_F(ShaderProgramStateTest, AssignTakesANewProgramWithOnlyTheOtherUniforms)
{
    Held<NullShaderProgram> first(new NullShaderProgram(ShaderProgramType::Fragment));
    Held<NullShaderProgram> second(new NullShaderProgram(ShaderProgramType::Fragment));
    Held<ShaderProgramState> target(new ShaderProgramState(nullptr));
    target->setFragmentProgram(first.get());
    target->addUniform(make("old", 1), ShaderProgramState::FragmentStage);
    target->addUniform(make("kept", 1), ShaderProgramState::VertexStage);
    Held<ShaderProgramState> source(new ShaderProgramState(nullptr));
    source->setFragmentProgram(second.get());
    source->addUniform(make("new", 2), ShaderProgramState::FragmentStage);

    target->assign(*source);
    EXPECT_EQ(target->fragmentProgram(), second.get());
    EXPECT_EQ(second->refCount(), 3);
    EXPECT_EQ(first->refCount(), 1);
    EXPECT_EQ(names(target->uniforms(ShaderProgramState::FragmentStage)), (std::vector<std::string> { "new" }));
    EXPECT_EQ(names(target->uniforms(ShaderProgramState::VertexStage)), (std::vector<std::string> { "kept" }));
}

TEST_F(ShaderProgramStateTest, CloneHoldsTheSameProgramsAndUniforms)
{
    Held<NullShaderProgram> program(new NullShaderProgram(ShaderProgramType::Vertex));
    Held<ShaderProgramState> source(new ShaderProgramState(nullptr));
    source->setVertexProgram(program.get());
    Uniform* u = make("u", 1);
    source->addUniform(u, ShaderProgramState::GeometryStage);
    {
        Held<RenderState> copy(source->clone());
        auto* state = static_cast<ShaderProgramState*>(copy.get());
        EXPECT_EQ(state->vertexProgram(), program.get());
        EXPECT_EQ(state->uniforms(ShaderProgramState::GeometryStage).at(0), u);
        EXPECT_EQ(program->refCount(), 3);
        EXPECT_EQ(u->refCount(), 3);
        EXPECT_TRUE(copy->equals(*source));
    }
    EXPECT_EQ(program->refCount(), 2);
    EXPECT_EQ(u->refCount(), 2);
}

} // namespace
} // namespace quern::graphics
