#include "StateTestSupport.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

namespace quern::graphics {
namespace {

using test::ChangeRecorder;
using test::Held;
using test::StateRecordingBackEnd;

RenderStateID idOf(u32 i) { return static_cast<RenderStateID>(i); }

TEST(RenderState, CreateGivesEachKindItsDefaults)
{
    StateRecordingBackEnd device;
    StateObjectCache cache(&device);

    Held<AlphaBlendState> blend(static_cast<AlphaBlendState*>(RenderState::create(RenderStateID::AlphaBlendState, &cache)));
    EXPECT_FALSE(blend->isEnabled());
    EXPECT_EQ(blend->sourceFactor(), AlphaBlendState::BlendFactor::One);
    EXPECT_EQ(blend->destinationFactor(), AlphaBlendState::BlendFactor::Zero);
    EXPECT_EQ(blend->equation(), AlphaBlendState::BlendEquation::Add);
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(blend->blendColour()[i], 1.0f);

    Held<CullState> cull(static_cast<CullState*>(RenderState::create(RenderStateID::CullState, &cache)));
    EXPECT_EQ(cull->cullMode(), CullState::CullBackFaces);
    EXPECT_FALSE(cull->isScissorEnabled());

    Held<DepthBufferState> depth(static_cast<DepthBufferState*>(RenderState::create(RenderStateID::DepthBufferState, &cache)));
    EXPECT_EQ(depth->comparison(), Comparison::Less);
    EXPECT_TRUE(depth->isTestEnabled());
    EXPECT_TRUE(depth->isWriteEnabled());
    EXPECT_EQ(depth->offsetFactor(), 0.0f);

    Held<FillState> fill(static_cast<FillState*>(RenderState::create(RenderStateID::FillState, &cache)));
    EXPECT_EQ(fill->lineWidth(), 1.0f);
    EXPECT_EQ(fill->colourWriteMask(), 0xffffffffu);
    EXPECT_EQ(fill->fillMode(), FillState::FillMode::Filled);
    EXPECT_FALSE(fill->hasLineSmoothing());

    Held<LogicalBlendState> logic(static_cast<LogicalBlendState*>(RenderState::create(RenderStateID::LogicalBlendState, &cache)));
    EXPECT_FALSE(logic->isEnabled());
    EXPECT_EQ(logic->operation(), LogicalBlendState::BlendOperation::Or);

    Held<StencilBufferState> stencil(static_cast<StencilBufferState*>(RenderState::create(RenderStateID::StencilBufferState, &cache)));
    EXPECT_TRUE(stencil->isEnabled());
    EXPECT_EQ(stencil->mask(), 1u);
    EXPECT_EQ(stencil->reference(), 0u);
    EXPECT_EQ(stencil->comparison(), Comparison::Always);
    EXPECT_EQ(stencil->failOperation(), StencilBufferState::Operation::Keep);
    EXPECT_EQ(stencil->depthFailOperation(), StencilBufferState::Operation::Keep);
    EXPECT_EQ(stencil->passOperation(), StencilBufferState::Operation::Keep);

    Held<TextureState> textures(static_cast<TextureState*>(RenderState::create(RenderStateID::TextureState, &cache)));
    EXPECT_TRUE(textures->unitsEnabled());
    EXPECT_EQ(textures->unitCount(), 8u);
    const TextureUnit& unit = textures->unit(7);
    EXPECT_EQ(unit.maxAnisotropy, 1.0f);
    EXPECT_EQ(unit.enabled, 1);
    EXPECT_EQ(unit.linearFiltering, 1);
    EXPECT_EQ(unit.mipmapMode, 2);
    EXPECT_EQ(unit.wrap, 5);
    EXPECT_EQ(unit.texture, nullptr);

    for (u32 i = 0; i < kRenderStateCount; ++i) {
        Held<RenderState> state(RenderState::create(idOf(i), &cache));
        EXPECT_EQ(state->kind(), idOf(i));
        EXPECT_EQ(state->cache(), &cache);
        EXPECT_EQ(state->listener(), nullptr);
        EXPECT_EQ(state->owner(), nullptr);
    }
}

TEST(RenderStateDeathTest, CreateWithAnInvalidIdIsFatal)
{
    EXPECT_DEATH(RenderState::create(idOf(8), nullptr), "Invalid enum value for type RenderStateID");
}

TEST(RenderState, NamesTheKindsAndNothingBeyond)
{
    EXPECT_STREQ(renderStateName(RenderStateID::AlphaBlendState), "AlphaBlendState");
    EXPECT_STREQ(renderStateName(RenderStateID::TextureState), "TextureState");
    EXPECT_EQ(renderStateName(idOf(8)), nullptr);
}

// Fresh states may land in memory that held anything: equal settings must
// still compare and hash alike, which needs every spare byte cleared.
// Fills and frees blocks of every small size, so that the next allocations
// are likely to reuse memory holding that byte.
void soilHeap(u8 byte)
{
    std::vector<void*> blocks;
    for (u64 size = 16; size <= 512; size += 8) {
        for (int n = 0; n < 4; ++n) {
            void* block = ::operator new(size);
            std::memset(block, byte, size);
            blocks.push_back(block);
        }
    }
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        ::operator delete(*it);
}

// Fresh states may land in memory that held anything: equal settings must
// still compare and hash alike, which needs every spare byte cleared.
TEST(RenderState, EqualSettingsCompareAndHashAlikeWhateverTheMemoryHeld)
{
    for (u32 i = 0; i < kRenderStateCount; ++i) {
        soilHeap(0xa5);
        Held<RenderState> first(RenderState::create(idOf(i), nullptr));
        soilHeap(0x5a);
        Held<RenderState> second(RenderState::create(idOf(i), nullptr));
        soilHeap(0x3c);
        Held<RenderState> copy(second->clone());

        SCOPED_TRACE(renderStateName(idOf(i)));
        EXPECT_TRUE(first->equals(*second));
        EXPECT_TRUE(first->equals(*copy));
        EXPECT_EQ(first->hash(), second->hash());
        EXPECT_EQ(first->hash(), copy->hash());
    }
}

TEST(RenderState, HashFollowsTheData)
{
    Held<DepthBufferState> a(new DepthBufferState(nullptr));
    Held<DepthBufferState> b(new DepthBufferState(nullptr));
    b->setComparison(Comparison::Greater);
    EXPECT_NE(a->hash(), b->hash());
    EXPECT_FALSE(a->equals(*b));
    b->setComparison(Comparison::Less);
    EXPECT_EQ(a->hash(), b->hash());
    Held<ShaderProgramState> programs(new ShaderProgramState(nullptr));
    Held<TextureState> textures(new TextureState(nullptr));
    EXPECT_EQ(programs->hash(), 0u);
    EXPECT_EQ(textures->hash(), 0u);
}

TEST(RenderState, SetterIgnoresAnUnchangedValueAndAnnouncesAChange)
{
    StateRecordingBackEnd device;
    StateObjectCache cache(&device);
    Held<CullState> cull(new CullState(&cache));
    ChangeRecorder recorder;
    cull->setListener(&recorder);

    cull->setCullMode(CullState::CullBackFaces);
    EXPECT_TRUE(recorder.changes.empty());
    cull->setCullMode(CullState::CullFrontFaces);
    cull->setCullMode(CullState::CullFrontFaces);
    ASSERT_EQ(recorder.changes.size(), 1u);
    EXPECT_EQ(recorder.changes[0], cull.get());
    EXPECT_EQ(cull->cullMode(), CullState::CullFrontFaces);
}

TEST(RenderState, CloneCopiesDataAndCacheButNoListenerOrOwner)
{
    StateRecordingBackEnd device;
    StateObjectCache cache(&device);
    ChangeRecorder recorder;
    Held<AlphaBlendState> blend(new AlphaBlendState(&cache));
    blend->setEnabled(true);
    blend->setDestinationFactor(AlphaBlendState::BlendFactor::OneMinusSourceAlpha);
    blend->setListener(&recorder);
    Held<Shader> owner(new Shader());
    blend->setOwner(owner.get());

    Held<RenderState> copy(blend->clone());
    EXPECT_NE(copy.get(), blend.get());
    EXPECT_EQ(copy->kind(), RenderStateID::AlphaBlendState);
    EXPECT_TRUE(copy->equals(*blend));
    EXPECT_EQ(copy->cache(), &cache);
    EXPECT_EQ(copy->listener(), nullptr);
    EXPECT_EQ(copy->owner(), nullptr);
    EXPECT_EQ(copy->refCount(), 1);
    blend->setOwner(nullptr);
}

TEST(RenderState, AssignTakesDataCacheAndListenerAndAnnouncesIt)
{
    StateRecordingBackEnd device;
    StateObjectCache cache(&device);
    ChangeRecorder recorder;
    Held<FillState> source(new FillState(&cache));
    source->setFillMode(FillState::FillMode::Lines);
    source->setListener(&recorder);
    Held<FillState> target(new FillState(nullptr));

    target->assign(*source);
    EXPECT_TRUE(target->equals(*source));
    EXPECT_EQ(target->fillMode(), FillState::FillMode::Lines);
    EXPECT_EQ(target->cache(), &cache);
    EXPECT_EQ(target->listener(), &recorder);
    ASSERT_EQ(recorder.changes.size(), 1u);
    EXPECT_EQ(recorder.changes[0], target.get());

    target->assign(*target);
    EXPECT_EQ(recorder.changes.size(), 1u);
}

TEST(RenderStateDeathTest, AssignFromAnotherKindIsFatal)
{
    Held<FillState> fill(new FillState(nullptr));
    Held<CullState> cull(new CullState(nullptr));
    EXPECT_DEATH(fill->assign(*cull), "Can't assign a render state of another kind");
}

TEST(RenderState, DiffersComparesDataOnlyForTheKindsThatCanTell)
{
    struct Case {
        RenderStateID id;
        bool equalButDistinctDiffer;
    };
    const Case cases[] = {
        {RenderStateID::AlphaBlendState, false}, {RenderStateID::CullState, false},
        {RenderStateID::DepthBufferState, false}, {RenderStateID::FillState, true},
        {RenderStateID::LogicalBlendState, true}, {RenderStateID::ShaderProgramState, true},
        {RenderStateID::StencilBufferState, true}, {RenderStateID::TextureState, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(renderStateName(c.id));
        Held<RenderState> a(RenderState::create(c.id, nullptr));
        Held<RenderState> b(RenderState::create(c.id, nullptr));
        EXPECT_FALSE(a->differs(*a));
        EXPECT_EQ(a->differs(*b), c.equalButDistinctDiffer);
        EXPECT_TRUE(a->equals(*b));
    }
    Held<CullState> a(new CullState(nullptr));
    Held<CullState> b(new CullState(nullptr));
    b->setScissor(1, 2, 3, 4);
    EXPECT_TRUE(a->differs(*b));
}

TEST(RenderState, PrintWritesTheNameAndTheAddress)
{
    Held<CullState> cull(new CullState(nullptr));
    std::ostringstream out;
    cull->print(out);
    std::ostringstream expected;
    expected << "CullState: " << static_cast<const void*>(cull.get());
    EXPECT_EQ(out.str(), expected.str());
}

class TextureStateTest : public ::testing::Test {
protected:
    void SetUp() override { Display::set(nullptr); }
    void TearDown() override { Display::set(nullptr); }
};

TEST_F(TextureStateTest, UnitsThatAreNotEnabledCompareEqualWhateverTheirSettings)
{
    Held<TextureState> a(new TextureState(nullptr));
    Held<TextureState> b(new TextureState(nullptr));
    a->setUnitEnabled(2, false);
    b->setUnitEnabled(2, false);
    b->setWrap(2, 10);
    b->setMaxAnisotropy(2, 8.0f);
    EXPECT_TRUE(a->equals(*b));

    a->setUnitEnabled(3, false);
    EXPECT_FALSE(a->equals(*b));
    EXPECT_TRUE(a->differs(*b));
    b->setUnitEnabled(3, false);
    b->setUnitsEnabled(false);
    EXPECT_FALSE(a->equals(*b));
}

TEST_F(TextureStateTest, SettingsAndTexturesOfEnabledUnitsCount)
{
    Held<TextureState> a(new TextureState(nullptr));
    Held<TextureState> b(new TextureState(nullptr));
    b->setCompareMode(0, 1);
    EXPECT_FALSE(a->equals(*b));
    b->setCompareMode(0, 0);
    b->setMaxAnisotropy(0, 4.0f);
    EXPECT_FALSE(a->equals(*b));
    b->setMaxAnisotropy(0, 1.0f);
    EXPECT_TRUE(a->equals(*b));

    Held<Texture> texture(new Texture());
    b->setTexture(1, texture.get());
    EXPECT_FALSE(a->equals(*b));
    a->setTexture(1, texture.get());
    EXPECT_TRUE(a->equals(*b));
}

TEST_F(TextureStateTest, SetTextureRetainsAndAnnouncesNothing)
{
    StateRecordingBackEnd device;
    StateObjectCache cache(&device);
    ChangeRecorder recorder;
    Held<TextureState> textures(new TextureState(&cache));
    textures->setListener(&recorder);
    Held<Texture> first(new Texture());
    Held<Texture> second(new Texture());

    textures->setTexture(0, first.get());
    EXPECT_EQ(first->refCount(), 2);
    textures->setTexture(0, first.get());
    EXPECT_EQ(first->refCount(), 2);
    textures->setTexture(0, second.get());
    EXPECT_EQ(first->refCount(), 1);
    EXPECT_EQ(second->refCount(), 2);
    EXPECT_TRUE(recorder.changes.empty());
    textures->setTexture(0, nullptr);
    EXPECT_EQ(second->refCount(), 1);
}

TEST_F(TextureStateTest, AssignTakesOnlyTheUnitsThatHoldATexture)
{
    Held<Texture> texture(new Texture());
    Held<TextureState> source(new TextureState(nullptr));
    source->setTexture(4, texture.get());
    source->setWrap(4, 10);
    source->setWrap(5, 15); // no texture: not taken
    Held<TextureState> target(new TextureState(nullptr));
    target->setMipmapMode(5, 0);

    target->assign(*source);
    EXPECT_EQ(target->texture(4), texture.get());
    EXPECT_EQ(target->unit(4).wrap, 10);
    EXPECT_EQ(target->unit(5).wrap, 5);
    EXPECT_EQ(target->unit(5).mipmapMode, 0);
    EXPECT_EQ(texture->refCount(), 3);
}

TEST_F(TextureStateTest, CloneRetainsTheTextures)
{
    Held<Texture> texture(new Texture());
    Held<TextureState> source(new TextureState(nullptr));
    source->setTexture(6, texture.get());
    {
        Held<RenderState> copy(source->clone());
        EXPECT_EQ(static_cast<TextureState*>(copy.get())->texture(6), texture.get());
        EXPECT_EQ(texture->refCount(), 3);
        EXPECT_TRUE(copy->equals(*source));
    }
    EXPECT_EQ(texture->refCount(), 2);
}

TEST(TextureStateDeathTest, AUnitBeyondTheEighthIsFatal)
{
    Held<TextureState> textures(new TextureState(nullptr));
    EXPECT_DEATH(textures->setWrap(8, 5), "Texture unit out of range");
}

} // namespace
} // namespace quern::graphics
