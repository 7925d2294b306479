#include "StateTestSupport.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"

#include <gtest/gtest.h>

#include <memory>

namespace quern::graphics {
namespace {

using test::Held;
using test::StateRecordingBackEnd;

class StateObjectCacheTest : public ::testing::Test {
protected:
    void SetUp() override { Display::set(nullptr); }
    void TearDown() override { Display::set(nullptr); }

    StateRecordingBackEnd device;
    StateObjectCache cache{&device};
    const VertexFormat positions = VertexFormat::fromFlags(0x1);
    const VertexFormat withNormals = VertexFormat::fromFlags(0x3);
};

TEST_F(StateObjectCacheTest, EachFormatOfAShaderGetsItsOwnDeviceObject)
{
    ASSERT_NE(positions.hash, withNormals.hash);
    Held<Shader> shader(Shader::createDefault(&cache));
    const u32 first = cache.getStateObject(shader.get(), &positions);
    const u32 second = cache.getStateObject(shader.get(), &withNormals);
    EXPECT_NE(first, second);
    EXPECT_EQ(cache.entryCount(), 2u);
    ASSERT_EQ(device.created.size(), 2u);
    EXPECT_EQ(device.created[0].shader, shader.get());
    EXPECT_EQ(device.created[1].format, &withNormals);

    // Unchanged passes cost a lookup, nothing on the device.
    EXPECT_EQ(cache.getStateObject(shader.get(), &positions), first);
    EXPECT_EQ(cache.getStateObject(shader.get(), &withNormals), second);
    EXPECT_EQ(device.created.size(), 2u);
}

TEST_F(StateObjectCacheTest, AChangedStateRebuildsEveryEntryOfItsShaderOnce)
{
    Held<Shader> shader(Shader::createDefault(&cache));
    Held<Shader> bystander(Shader::createDefault(&cache));
    const u32 first = cache.getStateObject(shader.get(), &positions);
    const u32 second = cache.getStateObject(shader.get(), &withNormals);
    const u32 other = cache.getStateObject(bystander.get(), &positions);

    shader->getDepthBufferState()->setComparison(Comparison::Greater);
    for (int pass = 0; pass < 2; ++pass) {
        cache.getStateObject(shader.get(), &positions);
        cache.getStateObject(shader.get(), &withNormals);
        cache.getStateObject(bystander.get(), &positions);
    }
    EXPECT_EQ(device.creationsOf(first), 2u);
    EXPECT_EQ(device.creationsOf(second), 2u);
    EXPECT_EQ(device.creationsOf(other), 1u);
}

TEST_F(StateObjectCacheTest, SettingAnUnchangedValueRebuildsNothing)
{
    Held<Shader> shader(Shader::createDefault(&cache));
    const u32 handle = cache.getStateObject(shader.get(), &positions);
    CullState* cull = shader->getCullState();
    cull->setCullMode(CullState::CullNone);
    cache.getStateObject(shader.get(), &positions);
    cull->setCullMode(CullState::CullNone);
    cache.getStateObject(shader.get(), &positions);
    EXPECT_EQ(device.creationsOf(handle), 2u);
}

TEST_F(StateObjectCacheTest, AStateSharedByTwoDrawnShadersDirtiesBothAndRemembersTheLast)
{
    Held<Shader> first(Shader::createDefault(&cache));
    Held<Shader> second(first->clone());
    const u32 a = cache.getStateObject(first.get(), &positions);
    const u32 b = cache.getStateObject(second.get(), &positions);
    auto* depth = static_cast<DepthBufferState*>(first->renderState(RenderStateID::DepthBufferState));

    depth->setOffsetFactor(1.0f);
    EXPECT_EQ(depth->owner(), second.get());
    cache.getStateObject(first.get(), &positions);
    cache.getStateObject(second.get(), &positions);
    EXPECT_EQ(device.creationsOf(a), 2u);
    EXPECT_EQ(device.creationsOf(b), 2u);
}

// Replacing a state object of a drawn Shader (copy on write) must rebuild
// its device objects, or draws keep the old settings.
TEST_F(StateObjectCacheTest, MergedStatesRebuildTheShadersDeviceObject)
{
    Held<Shader> shader(Shader::createDefault(&cache));
    const u32 handle = cache.getStateObject(shader.get(), &positions);
    Held<Shader> other(new Shader());
    Held<DepthBufferState> depth(new DepthBufferState(&cache));
    depth->setTestEnabled(false);
    other->setDepthBufferState(depth.get());

    shader->mergeStates(*other);
    cache.getStateObject(shader.get(), &positions);
    EXPECT_EQ(device.creationsOf(handle), 2u);
    shader->mergeStates(*other); // equal now: nothing replaced
    cache.getStateObject(shader.get(), &positions);
    EXPECT_EQ(device.creationsOf(handle), 2u);
}

TEST_F(StateObjectCacheTest, ADestroyedShaderTakesItsEntriesAndDeviceObjects)
{
    Held<Shader> kept(Shader::createDefault(&cache));
    const u32 keptHandle = cache.getStateObject(kept.get(), &positions);
    u32 gone[2] = {};
    {
        Held<Shader> shader(Shader::createDefault(&cache));
        gone[0] = cache.getStateObject(shader.get(), &positions);
        gone[1] = cache.getStateObject(shader.get(), &withNormals);
    }
    EXPECT_EQ(cache.entryCount(), 1u);
    EXPECT_EQ(cache.entry(0).shader, kept.get());
    EXPECT_EQ(device.destroyed, (std::vector<u32>{gone[0], gone[1]}));
    EXPECT_EQ(cache.getStateObject(kept.get(), &positions), keptHandle);
    EXPECT_EQ(device.created.size(), 3u);
}

TEST_F(StateObjectCacheTest, ManyShadersStayFindable)
{
    std::vector<std::unique_ptr<Held<Shader>>> shaders;
    std::vector<u32> handles;
    for (int i = 0; i < 300; ++i) {
        shaders.push_back(std::make_unique<Held<Shader>>(Shader::createDefault(&cache)));
        handles.push_back(cache.getStateObject(shaders.back()->get(), i % 2 ? &positions : &withNormals));
    }
    for (int i = 0; i < 300; i += 3)
        shaders[i].reset();
    for (int i = 0; i < 300; ++i) {
        if (shaders[i]) {
            EXPECT_EQ(cache.getStateObject(shaders[i]->get(), i % 2 ? &positions : &withNormals), handles[i]);
        }
    }
    EXPECT_EQ(device.created.size(), 300u);
    EXPECT_EQ(cache.entryCount(), 200u);
}

TEST_F(StateObjectCacheTest, BindTexturesTakesOverridesThenTheUnitsTextures)
{
    cache.bindTextures(nullptr, nullptr);
    EXPECT_EQ(device.boundStage, 2u);
    EXPECT_EQ(device.boundCount, 0u);

    Held<Texture> override(new Texture());
    TextureOverrides overrides;
    overrides.images[3] = override->pixelBuffer();
    cache.bindTextures(nullptr, &overrides);
    EXPECT_EQ(device.boundCount, 4u);
    for (u32 i = 0; i < 3; ++i)
        EXPECT_EQ(device.bound[i], nullptr);
    EXPECT_EQ(device.bound[3], override->pixelBuffer());

    Held<Texture> first(new Texture());
    Held<Texture> fifth(new Texture());
    Held<TextureState> textures(new TextureState(&cache));
    textures->setTexture(0, first.get());
    textures->setTexture(3, fifth.get());
    textures->setTexture(5, fifth.get());
    cache.bindTextures(textures.get(), &overrides);
    EXPECT_EQ(device.boundCount, 6u);
    EXPECT_EQ(device.bound[0], first->pixelBuffer());
    EXPECT_EQ(device.bound[3], override->pixelBuffer());
    EXPECT_EQ(device.bound[5], fifth->pixelBuffer());
}

TEST(StateObjectCache, DestroyingTheCacheDestroysItsObjectsAndShadersMayOutliveIt)
{
    StateRecordingBackEnd device;
    const VertexFormat format = VertexFormat::fromFlags(0x1);
    Shader* survivor = Shader::createDefault(nullptr);
    RefCounted::retain(survivor);
    {
        StateObjectCache cache(&device);
        survivor->setRenderState(RenderStateID::CullState, new CullState(&cache));
        EXPECT_TRUE(StateObjectCache::isLive(&cache));
        EXPECT_EQ(cache.defaultShader()->refCount(), 1);
        cache.getStateObject(survivor, &format);
        cache.getStateObject(cache.defaultShader(), &format);
    }
    EXPECT_EQ(device.destroyed.size(), 2u);
    RefCounted::release(survivor); // must not reach the destroyed cache
}

TEST(StateObjectCache, OnlyCachesThatExistAreLive)
{
    StateRecordingBackEnd device;
    auto* first = new StateObjectCache(&device);
    auto* second = new StateObjectCache(&device);
    const StateObjectCache* gone = first;
    delete first;
    EXPECT_FALSE(StateObjectCache::isLive(gone));
    EXPECT_TRUE(StateObjectCache::isLive(second));
    delete second;
    EXPECT_FALSE(StateObjectCache::isLive(second));
}

} // namespace
} // namespace quern::graphics
