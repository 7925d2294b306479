#include "StateTestSupport.h"

#include "quern/assets/DefaultResourceCache.h"
#include "quern/graphics/Display.h"
#include "quern/graphics/Material.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/StateObjectCache.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/platform/ErrorReporting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <sstream>
#include <string>

namespace quern::graphics {
namespace {

using test::Held;

// A material with two settings that its pass turns into a cull state and a
// depth state.
class TestMaterial final : public Material {
public:
    TestMaterial* clone() const override { return new TestMaterial(*this); }
    void setUpShader(Shader& shader) override
    {
        ++setUps;
        shader.getCullState()->setCullMode(cullMode);
        shader.getDepthBufferState()->setWriteEnabled(depthWrites);
    }

    void setCullMode(u8 mode)
    {
        if (mode == cullMode)
            return;
        cullMode = mode;
        setDirty();
    }

    u8 cullMode = CullState::CullBackFaces;
    bool depthWrites = true;
    int setUps = 0;
};

int g_softAsserts = 0;
std::string g_lastSoftAssert;

bool countSoftAssert(const char* message, const char*, const char*, u32)
{
    ++g_softAsserts;
    g_lastSoftAssert = message;
    return false;
}

class MaterialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Display::set(nullptr);
        g_softAsserts = 0;
        debug::setSoftAssertCallback(&countSoftAssert);
    }
    void TearDown() override
    {
        debug::setSoftAssertCallback(nullptr);
        Display::set(nullptr);
    }

    static RenderState* stateOf(Material& material, RenderStateID id) { return material.shader()->renderState(id); }
    static CullState* cullOf(Material& material)
    {
        return static_cast<CullState*>(stateOf(material, RenderStateID::CullState));
    }
};

TEST_F(MaterialTest, StartsDirtyWithoutAPassAndEqualsItselfWithoutBuildingOne)
{
    Held<TestMaterial> material(new TestMaterial());
    EXPECT_TRUE(material->isDirty());
    EXPECT_EQ(material->shader(), nullptr);
    EXPECT_TRUE(material->equals(*material));
    EXPECT_EQ(material->shader(), nullptr);
    EXPECT_EQ(material->setUps, 0);
}

TEST_F(MaterialTest, FreshMaterialsWithTheSameSettingsAreEqualOnceBuilt)
{
    Held<TestMaterial> a(new TestMaterial());
    Held<TestMaterial> b(new TestMaterial());
    EXPECT_TRUE(a->equals(*b));
    ASSERT_NE(a->shader(), nullptr);
    ASSERT_NE(b->shader(), nullptr);
    EXPECT_NE(a->shader(), b->shader());
    EXPECT_FALSE(a->isDirty());
    EXPECT_FALSE(b->isDirty());

    b->setCullMode(CullState::CullNone);
    EXPECT_FALSE(a->equals(*b));
}

TEST_F(MaterialTest, FirstUseBuildsANamedPassHeldOnce)
{
    Held<TestMaterial> material(new TestMaterial());
    material->setName("crate");
    Shader* pass = material->getShader();
    ASSERT_NE(pass, nullptr);
    EXPECT_EQ(pass->name(), "crate");
    EXPECT_EQ(pass->refCount(), 1);
    EXPECT_EQ(material->setUps, 1);
    EXPECT_EQ(material->getShader(), pass);
    EXPECT_EQ(material->setUps, 1);
}

TEST_F(MaterialTest, PrintOfAnUnnamedMaterialBuildsItsPass)
{
    Held<TestMaterial> material(new TestMaterial());
    std::ostringstream out;
    material->print(out);
    EXPECT_FALSE(material->isDirty());
    ASSERT_NE(material->shader(), nullptr);
    std::ostringstream pass;
    material->shader()->print(pass);
    EXPECT_EQ(out.str(), "<unnamed material>\nShader: " + pass.str() + "\n");
}

TEST_F(MaterialTest, ChangingACopyLeavesTheOriginalsPassAndStatesAlone)
{
    Held<TestMaterial> original(new TestMaterial());
    original->getShader();
    Shader* originalPass = original->shader();
    CullState* originalCull = cullOf(*original);
    RenderState* originalDepth = stateOf(*original, RenderStateID::DepthBufferState);

    Held<TestMaterial> copy(new TestMaterial(*original));
    EXPECT_EQ(copy->shader(), originalPass);
    EXPECT_EQ(originalPass->refCount(), 2);

    copy->setCullMode(CullState::CullFrontFaces);
    copy->getShader();
    EXPECT_EQ(g_softAsserts, 1);
    EXPECT_EQ(g_lastSoftAssert, "Just testing");

    EXPECT_EQ(original->shader(), originalPass);
    EXPECT_EQ(cullOf(*original), originalCull);
    EXPECT_EQ(originalCull->cullMode(), CullState::CullBackFaces);
    EXPECT_EQ(stateOf(*original, RenderStateID::DepthBufferState), originalDepth);
    EXPECT_EQ(originalPass->refCount(), 1);

    EXPECT_NE(copy->shader(), originalPass);
    EXPECT_NE(cullOf(*copy), originalCull);
    EXPECT_EQ(cullOf(*copy)->cullMode(), CullState::CullFrontFaces);
    EXPECT_EQ(cullOf(*copy)->listener(), nullptr);
    // The depth setting did not change: the copy still shares that object.
    EXPECT_EQ(stateOf(*copy, RenderStateID::DepthBufferState), originalDepth);
    EXPECT_EQ(copy->shader()->refCount(), 1);
}

TEST_F(MaterialTest, ARebuildThatChangesNothingKeepsSharingThePass)
{
    Held<TestMaterial> original(new TestMaterial());
    Shader* pass = original->getShader();
    Held<TestMaterial> copy(new TestMaterial(*original));
    copy->setDirty();
    EXPECT_EQ(copy->getShader(), pass);
    EXPECT_EQ(pass->refCount(), 2);
}

TEST_F(MaterialTest, APrivatePassIsUpdatedInPlace)
{
    Held<TestMaterial> material(new TestMaterial());
    Shader* pass = material->getShader();
    CullState* cull = cullOf(*material);

    material->setCullMode(CullState::CullNone);
    EXPECT_EQ(material->getShader(), pass);
    EXPECT_EQ(cullOf(*material), cull);
    EXPECT_EQ(cull->cullMode(), CullState::CullNone);
    EXPECT_EQ(g_softAsserts, 0);
}

TEST_F(MaterialTest, APassWithASharedStateKeepsItsIdentityButReplacesThatState)
{
    Held<TestMaterial> material(new TestMaterial());
    Shader* pass = material->getShader();
    Held<CullState> heldElsewhere(cullOf(*material));

    material->setCullMode(CullState::CullFrontFaces);
    EXPECT_EQ(material->getShader(), pass);
    EXPECT_NE(cullOf(*material), heldElsewhere.get());
    EXPECT_EQ(heldElsewhere->cullMode(), CullState::CullBackFaces);
    EXPECT_EQ(cullOf(*material)->cullMode(), CullState::CullFrontFaces);
    EXPECT_EQ(g_softAsserts, 1);
}

// A material whose pass is drawn through a cache of the test's own.
class CachedMaterial final : public Material {
public:
    explicit CachedMaterial(StateObjectCache& cache) : m_cache(cache) {}
    CachedMaterial* clone() const override { return new CachedMaterial(*this); }
    void setUpShader(Shader& shader) override
    {
        if (!shader.renderState(RenderStateID::CullState))
            shader.setCullState(new CullState(&m_cache));
        shader.getCullState()->setCullMode(cullMode);
    }

    u8 cullMode = CullState::CullBackFaces;

private:
    StateObjectCache& m_cache;
};

// The pass keeps its identity while one of its states is replaced: the
// device state built from the old state must be rebuilt.
TEST_F(MaterialTest, ReplacingAStateOfADrawnPassRebuildsItsDeviceState)
{
    test::StateRecordingBackEnd device;
    StateObjectCache cache(&device);
    const VertexFormat format = VertexFormat::fromFlags(0x1);
    Held<CachedMaterial> material(new CachedMaterial(cache));
    Shader* pass = material->getShader();
    const u32 handle = cache.getStateObject(pass, &format);
    Held<RenderState> heldElsewhere(pass->renderState(RenderStateID::CullState));

    material->cullMode = CullState::CullNone;
    material->setDirty();
    ASSERT_EQ(material->getShader(), pass);
    ASSERT_NE(pass->renderState(RenderStateID::CullState), heldElsewhere.get());
    cache.getStateObject(pass, &format);
    EXPECT_EQ(device.creationsOf(handle), 2u);
}

TEST_F(MaterialTest, MakeUniqueAndDetachDropThePass)
{
    Held<TestMaterial> material(new TestMaterial());
    Shader* pass = material->getShader();

    Material* unique = material->makeUnique();
    EXPECT_EQ(unique->refCount(), 0);
    EXPECT_EQ(unique->shader(), nullptr);
    EXPECT_TRUE(unique->isDirty());
    EXPECT_EQ(pass->refCount(), 1);
    RefCounted::retain(unique);
    RefCounted::release(unique);

    Held<Shader> keep(pass);
    assets::DefaultResourceCache cache;
    material->detach(cache);
    EXPECT_EQ(material->shader(), nullptr);
    EXPECT_TRUE(material->isDirty());
    EXPECT_NE(material->getShader(), pass);
}

TEST_F(MaterialTest, DefaultValuesOfTheBase)
{
    Held<TestMaterial> material(new TestMaterial());
    f32 first[4] = {9, 9, 9, 9};
    f32 second[4] = {9, 9, 9, 9};
    material->getDefaultValues(nullptr, nullptr, nullptr, first, second);
    const f32 expectedFirst[4] = {0, 0, 0, 1};
    const f32 expectedSecond[4] = {0, 0, 1, 1};
    EXPECT_EQ(std::memcmp(first, expectedFirst, sizeof(first)), 0);
    EXPECT_EQ(std::memcmp(second, expectedSecond, sizeof(second)), 0);
}

TEST_F(MaterialTest, FetchProgramFindsOnlyShaderPrograms)
{
    assets::DefaultResourceCache cache;
    const u64 programKey = 0x1234;
    const u64 textureKey = 0x5678;
    bool created = false;
    const u32 programHandle = cache.acquireOrCreate(
        programKey, assets::ResourceType::ShaderProgram, sizeof(NullShaderProgram), alignof(NullShaderProgram),
        created, [](void* memory, void*) { RefCounted::retain(new (memory) NullShaderProgram(ShaderProgramType::Fragment)); });
    ASSERT_TRUE(created);
    const u32 otherHandle = cache.acquireOrCreate(
        textureKey, assets::ResourceType::Texture, sizeof(NullShaderProgram), alignof(NullShaderProgram), created,
        [](void* memory, void*) { RefCounted::retain(new (memory) NullShaderProgram(ShaderProgramType::Vertex)); });
    u64 typeId = 0;
    void* stored = cache.entry(programHandle, typeId);

    Held<TestMaterial> material(new TestMaterial());
    material->setResourceCache(&cache);
    ShaderProgram* program = material->fetchProgram(programKey);
    EXPECT_EQ(static_cast<void*>(program), stored);
    EXPECT_EQ(program->type(), ShaderProgramType::Fragment);
    EXPECT_EQ(material->fetchProgram(textureKey), nullptr);
    EXPECT_EQ(material->fetchProgram(0x9999), nullptr);
    cache.release(programHandle);
    cache.release(otherHandle);
}

} // namespace
} // namespace quern::graphics
