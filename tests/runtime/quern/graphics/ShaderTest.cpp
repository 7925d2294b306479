#include "StateTestSupport.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quern::graphics {
namespace {

using test::Held;
using test::LogCapture;
using test::StateRecordingBackEnd;

RenderStateID idOf(u32 i) { return static_cast<RenderStateID>(i); }

class ShaderTest : public ::testing::Test {
protected:
    StateRecordingBackEnd device;
    StateObjectCache cache{&device};
};

TEST_F(ShaderTest, CreateDefaultHoldsEveryKindForItsCache)
{
    Held<Shader> shader(Shader::createDefault(&cache));
    EXPECT_EQ(shader->stateObjectCache(), &cache);
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        ASSERT_NE(shader->renderState(idOf(i)), nullptr);
        EXPECT_EQ(shader->renderState(idOf(i))->kind(), idOf(i));
        EXPECT_EQ(shader->renderState(idOf(i))->cache(), &cache);
        EXPECT_EQ(shader->renderState(idOf(i))->refCount(), 1);
    }
}

TEST_F(ShaderTest, EqualWhenEveryKindIsSharedOrEqualAndNotWhenOneIsMissing)
{
    Held<Shader> a(Shader::createDefault(&cache));
    Held<Shader> b(a->clone());
    EXPECT_TRUE(a->equals(*b));
    Held<Shader> c(Shader::createDefault(&cache));
    EXPECT_TRUE(a->equals(*c)); // different objects, equal data

    b->setRenderState(RenderStateID::StencilBufferState, nullptr);
    EXPECT_FALSE(a->equals(*b));
    EXPECT_FALSE(b->equals(*a));
    Held<Shader> empty1(new Shader());
    Held<Shader> empty2(new Shader());
    EXPECT_TRUE(empty1->equals(*empty2));
}

TEST_F(ShaderTest, CloneSharesTheStateObjectsAndStartsWithoutAPass)
{
    Held<Shader> source(Shader::createDefault(&cache));
    source->setName("pass");
    source->getShader(); // a Shader's pass is itself
    ASSERT_EQ(source->shader(), source.get());
    const i32 countBefore = source->refCount();

    Held<Shader> copy(source->clone());
    EXPECT_EQ(source->refCount(), countBefore);
    EXPECT_EQ(copy->shader(), nullptr);
    EXPECT_TRUE(copy->isDirty());
    EXPECT_EQ(copy->name(), "pass");
    EXPECT_EQ(copy->stateObjectCache(), &cache);
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        EXPECT_EQ(copy->renderState(idOf(i)), source->renderState(idOf(i)));
        EXPECT_EQ(source->renderState(idOf(i))->refCount(), 2);
    }
}

TEST_F(ShaderTest, MakeUniqueGivesEqualStatesOfItsOwn)
{
    Held<Shader> source(Shader::createDefault(&cache));
    Held<Shader> copy(source->makeUnique());
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        EXPECT_NE(copy->renderState(idOf(i)), source->renderState(idOf(i)));
        EXPECT_EQ(source->renderState(idOf(i))->refCount(), 1);
    }
    EXPECT_TRUE(copy->equals(*source));
}

TEST_F(ShaderTest, MergeStatesKeepsAnEqualStateObject)
{
    Held<Shader> target(Shader::createDefault(&cache));
    Held<Shader> other(new Shader());
    Held<DepthBufferState> depth(new DepthBufferState(&cache));
    other->setDepthBufferState(depth.get());
    RenderState* before = target->renderState(RenderStateID::DepthBufferState);

    target->mergeStates(*other);
    EXPECT_EQ(target->renderState(RenderStateID::DepthBufferState), before);
}

TEST_F(ShaderTest, MergeStatesReplacesInsteadOfEditing)
{
    Held<Shader> target(Shader::createDefault(&cache));
    Held<Shader> sharer(target->clone());
    auto* before = static_cast<DepthBufferState*>(target->renderState(RenderStateID::DepthBufferState));
    Held<Shader> other(new Shader());
    Held<DepthBufferState> depth(new DepthBufferState(&cache));
    depth->setWriteEnabled(false);
    other->setDepthBufferState(depth.get());
    Held<CullState> cull(new CullState(&cache));
    cull->setCullMode(CullState::CullNone);
    Held<Shader> withCull(new Shader());
    withCull->setCullState(cull.get());
    Held<Shader> bare(new Shader());

    target->mergeStates(*other);
    auto* after = static_cast<DepthBufferState*>(target->renderState(RenderStateID::DepthBufferState));
    EXPECT_NE(after, before);
    EXPECT_NE(after, depth.get());
    EXPECT_FALSE(after->isWriteEnabled());
    EXPECT_TRUE(before->isWriteEnabled()); // the sharer's object is untouched
    EXPECT_EQ(sharer->renderState(RenderStateID::DepthBufferState), before);
    EXPECT_EQ(before->refCount(), 1);

    // A kind this Shader lacks is taken as a copy of the other's.
    bare->mergeStates(*withCull);
    RenderState* taken = bare->renderState(RenderStateID::CullState);
    ASSERT_NE(taken, nullptr);
    EXPECT_NE(taken, cull.get());
    EXPECT_TRUE(taken->equals(*cull));
    EXPECT_EQ(bare->renderState(RenderStateID::AlphaBlendState), nullptr);
}

TEST_F(ShaderTest, OverlayTakesTheOverridesStatesFirst)
{
    Held<Shader> base(Shader::createDefault(&cache));
    Held<Shader> override(new Shader());
    Held<CullState> cull(new CullState(&cache));
    override->setCullState(cull.get());
    Held<Shader> out(new Shader());

    base->overlay(*override, *out);
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        RenderState* expected = i == static_cast<u32>(RenderStateID::CullState) ? cull.get()
                                                                                : base->renderState(idOf(i));
        EXPECT_EQ(out->renderState(idOf(i)), expected) << i;
    }
}

TEST_F(ShaderTest, UsesTransparencyWhenBlendingAddsToTheTarget)
{
    struct Case {
        bool hasBlend;
        bool enabled;
        AlphaBlendState::BlendFactor destination;
        bool transparent;
    };
    const Case cases[] = {
        {false, false, AlphaBlendState::BlendFactor::Zero, false},
        {true, true, AlphaBlendState::BlendFactor::One, true},
        {true, true, AlphaBlendState::BlendFactor::OneMinusSourceAlpha, true},
        {true, true, AlphaBlendState::BlendFactor::Zero, false},
        {true, false, AlphaBlendState::BlendFactor::One, false},
    };
    for (const Case& c : cases) {
        Held<Shader> shader(new Shader());
        if (c.hasBlend) {
            AlphaBlendState* blend = shader->getAlphaBlendState();
            blend->setEnabled(c.enabled);
            blend->setDestinationFactor(c.destination);
        }
        EXPECT_EQ(shader->usesTransparency(), c.transparent);
    }
}

TEST_F(ShaderTest, ValidationWarnsOfTransparencyWithDepthWrites)
{
    const char* warning = "Shader uses transparency but has depthbuffer writes enabled!";
    Held<Shader> shader(new Shader());
    AlphaBlendState* blend = shader->getAlphaBlendState();
    blend->setEnabled(true);
    blend->setDestinationFactor(AlphaBlendState::BlendFactor::One);
    {
        LogCapture log(2);
        shader->setUpShader(*shader); // no depth state at all
        EXPECT_EQ(log.count(warning), 1u);
    }
    shader->getDepthBufferState()->setWriteEnabled(false);
    {
        LogCapture log(2);
        shader->setUpShader(*shader);
        EXPECT_EQ(log.count(warning), 0u);
    }
    shader->getDepthBufferState()->setWriteEnabled(true);
    {
        LogCapture log(2);
        shader->getShader(); // the first update of a Shader validates it
        EXPECT_EQ(log.count(warning), 1u);
    }
}

TEST_F(ShaderTest, PrintListsTheStates)
{
    Held<Shader> shader(new Shader());
    CullState* cull = shader->getCullState();
    std::ostringstream out;
    shader->print(out);
    std::ostringstream expected;
    expected << "<unnamed shader>\n---\nCullState: " << static_cast<const void*>(cull);
    EXPECT_EQ(out.str(), expected.str());
}

TEST_F(ShaderTest, AccessorsMakeDefaultsForTheShadersCacheAndLinkIt)
{
    Held<Shader> shader(new Shader());
    Held<FillState> fill(new FillState(&cache));
    shader->setRenderState(RenderStateID::FillState, fill.get());
    EXPECT_EQ(shader->stateObjectCache(), &cache);
    EXPECT_EQ(shader->getFillState(), fill.get());
    DepthBufferState* depth = shader->getDepthBufferState();
    EXPECT_EQ(depth->cache(), &cache);
    EXPECT_EQ(shader->getDepthBufferState(), depth);
    EXPECT_EQ(depth->refCount(), 1);
}

TEST(ShaderDisplay, AShaderWithoutACacheTakesTheDisplaysForItsFirstState)
{
    Display::set(nullptr);
    {
        Held<Shader> shader(new Shader());
        FillState* fill = shader->getFillState();
        StateObjectCache* displayCache = Display::get()->context().stateObjectCache;
        ASSERT_NE(displayCache, nullptr);
        EXPECT_EQ(fill->cache(), displayCache);
        EXPECT_EQ(shader->stateObjectCache(), displayCache);
    }
    Display::set(nullptr);
}

// A state remembers the Shader whose entries its changes dirty. Once that
// Shader is gone, changes must reach the Shaders still holding the state.
TEST_F(ShaderTest, DestroyedOwnerIsForgottenByItsStates)
{
    const VertexFormat format = VertexFormat::fromFlags(1);
    Held<Shader> survivor(Shader::createDefault(&cache));
    auto* depth = static_cast<DepthBufferState*>(survivor->renderState(RenderStateID::DepthBufferState));
    const u32 handle = cache.getStateObject(survivor.get(), &format);
    {
        Held<Shader> owner(survivor->clone());
        cache.getStateObject(owner.get(), &format);
        depth->setOffsetUnits(1.0f);
        ASSERT_EQ(depth->owner(), owner.get()); // the last entry's Shader
        cache.getStateObject(survivor.get(), &format);
    }
    EXPECT_EQ(depth->owner(), nullptr);
    const u64 before = device.creationsOf(handle);
    depth->setOffsetUnits(2.0f);
    cache.getStateObject(survivor.get(), &format);
    EXPECT_EQ(device.creationsOf(handle), before + 1);
}

TEST(ShaderDeathTest, AKindOutsideTheTableIsFatal)
{
    Held<Shader> shader(new Shader());
    EXPECT_DEATH(shader->setRenderState(idOf(9), nullptr), "Invalid enum value for type RenderStateID");
}

} // namespace
} // namespace quern::graphics
