#include "MaterialTestSupport.h"

#include "quern/graphics/EmbeddedSourceDepot.h"
#include "quern/graphics/GenericMaterial.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/strings/Hashes.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace quern::graphics {
namespace {

using testing::floatsOf;
using testing::Held;
using testing::uniformNamed;
using testing::uniformNames;
using Names = std::vector<std::string>;
using Floats = std::vector<f32>;
using T = MaterialPropertyType;
constexpr auto kVertex = ShaderProgramState::VertexStage;
constexpr auto kFragment = ShaderProgramState::FragmentStage;
const Names kAutomatic = {"modelViewProjectionMatrix", "modelViewMatrix", "modelMatrix", "projectionMatrix",
                          "normalMatrix"};

Names withAutomatic(Names names)
{
    names.insert(names.end(), kAutomatic.begin(), kAutomatic.end());
    return names;
}

class GenericMaterialTest : public testing::MaterialEnvironment {
protected:
    GenericMaterialTest() { registerBuiltIns(); }

    const ShaderProgramState& programsOf(Material& material)
    {
        return *material.getShader()->getShaderProgramState();
    }
};

TEST_F(GenericMaterialTest, StartsWithOpaqueBackFaceCullingDefaults)
{
    Held<GenericMaterial> material(new GenericMaterial);
    EXPECT_TRUE(material->isDirty());
    EXPECT_EQ(material->sourceFactor(), 1u);
    EXPECT_EQ(material->destinationFactor(), 0u);
    EXPECT_EQ(material->cullMode(), 2u);
    EXPECT_EQ(material->depthComparison(), 2u);
    EXPECT_EQ(material->propertyCount(), 0u);
}

TEST_F(GenericMaterialTest, WithoutPropertiesThePassHasOnlyTheAutomaticUniforms)
{
    Held<GenericMaterial> material(new GenericMaterial);
    EXPECT_EQ(uniformNames(programsOf(*material), kVertex), kAutomatic);
    EXPECT_EQ(uniformNames(programsOf(*material), kFragment), Names{});
}

TEST_F(GenericMaterialTest, PropertiesBecomeUniformsOfBothStagesInOrder)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 tint = material->addProperty("_Tint", T::Color);
    const i32 intensity = material->addProperty("_Intensity", T::Float);
    const i32 fog = material->setFog(10.0f, 50.0f);
    EXPECT_EQ(tint, 1);
    EXPECT_EQ(intensity, 2);
    EXPECT_EQ(fog, 3);
    std::memcpy(material->property(tint).value, Floats{0.5f, 0.25f, 1.0f, 0.75f}.data(), 16);
    material->property(intensity).value[0] = 2.0f;

    const ShaderProgramState& programs = programsOf(*material);
    EXPECT_EQ(uniformNames(programs, kVertex), withAutomatic({"_Tint", "_Intensity", "fog"}));
    EXPECT_EQ(uniformNames(programs, kFragment), (Names{"_Tint", "_Intensity", "fog"}));
    EXPECT_EQ(uniformNamed(programs, kVertex, "_Tint"), uniformNamed(programs, kFragment, "_Tint"));
    EXPECT_EQ(floatsOf(uniformNamed(programs, kFragment, "_Tint")), (Floats{0.5f, 0.25f, 1.0f, 0.75f}));
    EXPECT_EQ(uniformNamed(programs, kFragment, "_Intensity")->type(), UniformType::Float);
    EXPECT_EQ(floatsOf(uniformNamed(programs, kFragment, "_Intensity")), Floats{2.0f});
    EXPECT_EQ(floatsOf(uniformNamed(programs, kFragment, "fog")), (Floats{10.0f, 50.0f, 0.0f, 1.0f}));
}

TEST_F(GenericMaterialTest, LongNamesAreCutButHashedWhole)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const char* name = "abcdefghijklmnopqrstuvwxy"; // 25 characters
    const i32 index = material->addProperty(name, T::Vector);
    EXPECT_STREQ(material->property(index).name, "abcdefghijklmnopqrs");
    EXPECT_EQ(material->nameHashes().at<u32>(0), strings::murmurHash2(name, 25));
    EXPECT_EQ(material->findProperty(name), index);
    EXPECT_EQ(material->findPropertyByHash(strings::murmurHash2(name, 25)), index);
    EXPECT_EQ(material->findProperty("abcdefghijklmnopqrs"), 0);
}

TEST_F(GenericMaterialTest, BlendingDecidesDepthWrites)
{
    const struct {
        u32 source;
        u32 destination;
        bool blending;
    } cases[] = {{1, 0, false}, {4, 5, true}, {1, 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source * 100 + c.destination);
        Held<GenericMaterial> material(new GenericMaterial);
        material->setSourceFactor(c.source);
        material->setDestinationFactor(c.destination);
        material->setCullMode(0);
        material->setDepthComparison(1);
        Shader* pass = material->getShader();
        const AlphaBlendState* blend = pass->getAlphaBlendState();
        EXPECT_EQ(blend->isEnabled(), c.blending);
        if (c.blending) {
            EXPECT_EQ(static_cast<u32>(blend->sourceFactor()), c.source);
            EXPECT_EQ(static_cast<u32>(blend->destinationFactor()), c.destination);
        }
        EXPECT_EQ(pass->getDepthBufferState()->isWriteEnabled(), !c.blending);
        EXPECT_EQ(pass->getDepthBufferState()->comparison(), Comparison::Less);
        EXPECT_EQ(pass->getCullState()->cullMode(), 0);
    }
}

TEST_F(GenericMaterialTest, TexturePropertyFillsItsUnitAndScaleOffset)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 index = material->addProperty("_MainTex", T::Texture);
    MaterialProperty& texture = material->property(index);
    texture.texture = whiteTexture();
    texture.unit = 3;
    texture.wrap = 0x1f0f; // only the low byte counts
    texture.scale[0] = 0.0f;
    texture.scale[1] = 2.0f;
    texture.offset[0] = 0.5f;
    texture.offset[1] = 0.0f;

    Shader* pass = material->getShader();
    const TextureState* units = pass->getTextureState();
    EXPECT_TRUE(units->unitsEnabled());
    EXPECT_EQ(units->texture(3), whiteTexture());
    EXPECT_EQ(units->unit(3).wrap, 0x0f);
    EXPECT_EQ(material->textureState(), units);

    const ShaderProgramState& programs = *pass->getShaderProgramState();
    EXPECT_EQ(uniformNames(programs, kFragment), (Names{"_MainTexScaleOffset", "_MainTex"}));
    EXPECT_EQ(uniformNames(programs, kVertex), withAutomatic({"_MainTexScaleOffset", "_MainTex"}));
    EXPECT_EQ(floatsOf(uniformNamed(programs, kFragment, "_MainTexScaleOffset")), (Floats{1.0f, 2.0f, 0.5f, 0.0f}));
    const Uniform* sampler = uniformNamed(programs, kFragment, "_MainTex");
    EXPECT_EQ(sampler->type(), UniformType::Sampler);
    EXPECT_EQ(testing::intOf(sampler), 3);
}

TEST_F(GenericMaterialTest, ATextureFreeMaterialLeavesUnitsDisabledAndEmpty)
{
    Held<GenericMaterial> material(new GenericMaterial);
    material->addProperty("_Tint", T::Color);
    const TextureState* units = material->getShader()->getTextureState();
    EXPECT_FALSE(units->unitsEnabled());
    for (u32 unit = 0; unit < TextureState::kUnitCount; ++unit)
        EXPECT_EQ(units->texture(unit), nullptr);
}

TEST_F(GenericMaterialTest, SetPropertyRGBOnACleanPrivatePassWritesTheUniform)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 tint = material->addProperty("_Tint", T::Color);
    Shader* pass = material->getShader();
    const Uniform* uniform = uniformNamed(*pass->getShaderProgramState(), kFragment, "_Tint");
    material->setPropertyRGB(tint, 0.1f, 0.2f, 0.3f);
    EXPECT_FALSE(material->isDirty());
    EXPECT_EQ(floatsOf(uniform), (Floats{0.1f, 0.2f, 0.3f, 1.0f}));
    EXPECT_EQ(material->getShader(), pass);
}

TEST_F(GenericMaterialTest, SetPropertyRGBOnASharedPassLeavesTheCopiesColour)
{
    Held<GenericMaterial> original(new GenericMaterial);
    const i32 tint = original->addProperty("_Tint", T::Color);
    original->setPropertyRGB(tint, 1.0f, 0.0f, 0.0f);
    original->getShader();
    Held<GenericMaterial> copy(original->clone());
    ASSERT_FALSE(copy->isDirty());

    copy->setPropertyRGB(tint, 0.0f, 1.0f, 0.0f);
    EXPECT_TRUE(copy->isDirty());
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*copy), kFragment, "_Tint")), (Floats{0.0f, 1.0f, 0.0f, 1.0f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "_Tint")), (Floats{1.0f, 0.0f, 0.0f, 1.0f}));

    // The original, now alone with its pass, writes in place again.
    original->setPropertyRGB(tint, 0.0f, 0.0f, 1.0f);
    EXPECT_FALSE(original->isDirty());
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "_Tint")), (Floats{0.0f, 0.0f, 1.0f, 1.0f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*copy), kFragment, "_Tint")), (Floats{0.0f, 1.0f, 0.0f, 1.0f}));
}

TEST_F(GenericMaterialTest, VectorAndFloatWritesGoIntoAPrivatePassAndLeaveASharedOnesCopies)
{
    Held<GenericMaterial> original(new GenericMaterial);
    const i32 offsets = original->addProperty("offsets", T::Vector);
    const i32 weight = original->addProperty("weight", T::Float);
    Shader* pass = original->getShader();
    const f32 first[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    original->setPropertyVector(offsets, first);
    original->setPropertyFloat(weight, 0.25f);
    EXPECT_FALSE(original->isDirty());
    EXPECT_EQ(original->getShader(), pass);
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "offsets")), (Floats{1.0f, 2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "weight")), (Floats{0.25f}));

    Held<GenericMaterial> copy(original->clone());
    const f32 second[4] = {5.0f, 6.0f, 7.0f, 8.0f};
    copy->setPropertyVector(offsets, second);
    copy->setPropertyFloat(weight, 0.5f);
    EXPECT_TRUE(copy->isDirty());
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*copy), kFragment, "offsets")), (Floats{5.0f, 6.0f, 7.0f, 8.0f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*copy), kFragment, "weight")), (Floats{0.5f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "offsets")), (Floats{1.0f, 2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*original), kFragment, "weight")), (Floats{0.25f}));
}

TEST_F(GenericMaterialTest, AFloatWrittenIntoAVectorPropertyRebuildsThePass)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 offsets = material->addProperty("offsets", T::Vector);
    material->getShader();
    material->setPropertyFloat(offsets, 0.5f);
    EXPECT_TRUE(material->isDirty());
    EXPECT_EQ(floatsOf(uniformNamed(programsOf(*material), kFragment, "offsets")), (Floats{0.5f, 0.0f, 0.0f, 0.0f}));
}

TEST_F(GenericMaterialTest, ATextureGoesIntoThePropertysUnitOfAPrivatePassOnly)
{
    Held<GenericMaterial> original(new GenericMaterial);
    const i32 index = original->addProperty("bloomTex", T::Texture);
    original->property(index).unit = 2;
    Texture* first = makeTexture(PixelBufferFormat::create2D(4, 4, PixelFormat::B8G8R8));
    Texture* second = makeTexture(PixelBufferFormat::create2D(4, 4, PixelFormat::B8G8R8));
    original->getShader();
    original->setPropertyTexture(index, first);
    EXPECT_FALSE(original->isDirty());
    EXPECT_EQ(original->property(index).texture, first);
    EXPECT_EQ(original->getShader()->getTextureState()->texture(2), first);

    Held<GenericMaterial> copy(original->clone());
    copy->setPropertyTexture(index, second);
    EXPECT_TRUE(copy->isDirty());
    EXPECT_EQ(copy->getShader()->getTextureState()->texture(2), second);
    EXPECT_EQ(original->getShader()->getTextureState()->texture(2), first);
}

TEST_F(GenericMaterialTest, UpdatePropertyRGBIgnoresTheStoredColourAndNaN)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 tint = material->addProperty("_Tint", T::Color);
    material->setPropertyRGB(tint, 0.5f, 0.5f, 0.5f);
    const Uniform* uniform = uniformNamed(programsOf(*material), kFragment, "_Tint");

    material->updatePropertyRGB(tint, 0.5f, 0.5f, 0.5f);
    EXPECT_FALSE(material->isDirty());
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    material->updatePropertyRGB(tint, nan, 0.5f, 0.5f);
    EXPECT_EQ(material->property(tint).value[0], 0.5f);

    material->updatePropertyRGB(tint, 0.5f, 0.75f, 0.5f);
    EXPECT_FALSE(material->isDirty());
    EXPECT_EQ(floatsOf(uniform), (Floats{0.5f, 0.75f, 0.5f, 1.0f}));
}

TEST_F(GenericMaterialTest, ASecondUniformReleasesTheFirst)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 palette = material->addProperty("skinningPalette", T::Uniform);
    Held<Uniform> first(new Uniform);
    Held<Uniform> second(new Uniform);
    material->setPropertyUniform(palette, first.get());
    EXPECT_EQ(first->refCount(), 2);
    EXPECT_EQ(first->name(), "skinningPalette");
    material->setPropertyUniform(palette, first.get());
    EXPECT_EQ(first->refCount(), 2);
    material->setPropertyUniform(palette, second.get());
    EXPECT_EQ(first->refCount(), 1);
    EXPECT_EQ(second->refCount(), 2);
    {
        Held<GenericMaterial> copy(material->clone());
        EXPECT_EQ(second->refCount(), 3);
    }
    EXPECT_EQ(second->refCount(), 2);
    EXPECT_EQ(uniformNames(programsOf(*material), kFragment), Names{"skinningPalette"});
}

TEST_F(GenericMaterialTest, UniformsGoOnlyIntoUniformProperties)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const i32 tint = material->addProperty("_Tint", T::Color);
    Held<Uniform> uniform(new Uniform);
    EXPECT_DEATH(material->setPropertyUniform(tint, uniform.get()), "not of the uniform type");
    EXPECT_DEATH(material->property(2), "Material property index out of range");
}

TEST_F(GenericMaterialTest, ProgramsChangeMarksDirtyAndClonesKeepProgramsButNotTextures)
{
    Held<GenericMaterial> material(new GenericMaterial);
    const u64 vertex = embeddedProgramAssetId("unlit_glsl_v");
    const u64 texture = defaultWhiteTextureKey() ^ assets::ResourceType::Texture;
    material->setVertexProgram(vertex);
    const i32 index = material->addProperty("_MainTex", T::Texture);
    material->property(index).textureRef.assetId = texture;

    EmbeddedSourceDepot depot;
    material->acquireResources(depot, cache);
    EXPECT_EQ(material->vertexProgram(), program(EmbeddedProgram::UnlitVertex));
    EXPECT_EQ(material->property(index).texture, whiteTexture());
    EXPECT_EQ(cache.find(defaultWhiteTextureKey())->handleCount, 1);

    Held<GenericMaterial> copy(material->clone());
    EXPECT_EQ(copy->vertexProgram(), material->vertexProgram());
    EXPECT_EQ(copy->property(index).texture, nullptr);
    EXPECT_EQ(copy->property(index).textureRef.handle, 0u);
    EXPECT_EQ(copy->property(index).textureRef.assetId, texture);

    material->getShader();
    material->detach(cache);
    EXPECT_TRUE(material->isDirty());
    EXPECT_EQ(material->shader(), nullptr);
    EXPECT_EQ(material->vertexProgram(), nullptr);
    EXPECT_EQ(material->property(index).texture, nullptr);
    EXPECT_EQ(cache.find(defaultWhiteTextureKey())->handleCount, 0);
    EXPECT_EQ(cache.find(embeddedProgramKey(EmbeddedProgram::UnlitVertex))->handleCount, 0);
}

TEST_F(GenericMaterialTest, DestroyingAMaterialGivesItsHandlesBack)
{
    {
        Held<GenericMaterial> material(new GenericMaterial);
        material->setFragmentProgram(embeddedProgramAssetId("unlit_glsl_p"));
        const i32 index = material->addProperty("_MainTex", T::Texture);
        material->property(index).textureRef.assetId = defaultWhiteTextureKey() ^ assets::ResourceType::Texture;
        EmbeddedSourceDepot depot;
        material->acquireResources(depot, cache);
        EXPECT_EQ(cache.find(embeddedProgramKey(EmbeddedProgram::UnlitFragment))->handleCount, 1);
    }
    EXPECT_EQ(cache.find(embeddedProgramKey(EmbeddedProgram::UnlitFragment))->handleCount, 0);
    EXPECT_EQ(cache.find(defaultWhiteTextureKey())->handleCount, 0);
}

TEST_F(GenericMaterialTest, ProgramsAreSetInThePass)
{
    Held<GenericMaterial> material(new GenericMaterial);
    material->setVertexProgram(embeddedProgramAssetId("unlit_glsl_v"));
    material->setFragmentProgram(embeddedProgramAssetId("unlit_glsl_p"));
    EmbeddedSourceDepot depot;
    material->acquireResources(depot, cache);
    const ShaderProgramState& programs = programsOf(*material);
    EXPECT_EQ(programs.vertexProgram(), program(EmbeddedProgram::UnlitVertex));
    EXPECT_EQ(programs.fragmentProgram(), program(EmbeddedProgram::UnlitFragment));
    material->detach(cache);
}

} // namespace
} // namespace quern::graphics
